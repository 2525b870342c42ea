#include "SearchPool.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>

#include "Fd.h"
#include "FileFeed.h"
#include "FileReader.h"
#include "FileScan.h"
#include "io.h"

namespace vorn {

namespace {

constexpr size_t kBatchBytes = size_t{64} << 10;
// Passed events per batch: a file scanned at length reaches the run in steady steps.
constexpr size_t kBatchStretches = 16;
// The run waiting for its file is woken once this many files from its own on are done.
constexpr size_t kWakeAhead = 256;
constexpr size_t kListedAhead = 128;
constexpr size_t kClaimRun = 16;
constexpr size_t kWorkerBlock = size_t{256} << 10;
// On a cold cache the disk serves many reads at once, and workers that wait for their files
// leave it idle: threads that only ask the system to start reading keep about this many
// reads in flight, up to this many files ahead of the workers (far enough that the workers
// do not catch up while the readers wait their turn), the first block of each: at most a
// quarter of a gigabyte is asked for ahead. On a warm cache they look at one file in
// kProbeStep and ask for nothing.
constexpr unsigned kReadsInFlight = 8;
constexpr size_t kReadAheadFiles = 1024;
constexpr size_t kProbeStep = 32;
constexpr size_t kColdRun = 1024;  // files read ahead after a probe found one not cached
constexpr off_t kReadAheadBytes = off_t{kWorkerBlock};
constexpr long kReadersNeedFree = 256;

}  // namespace

// A worker's side of one file: events are gathered into batches and handed over.
class SearchPool::Hooks : public FileScan::Hooks {
 public:
  Hooks(SearchPool& pool, size_t index, long long size, std::vector<Outcome>& unpublished,
        HitShelf::Writer* keep)
      : pool_(pool), index_(index), size_(size), unpublished_(unpublished), keep_(keep) {}

  bool Hit(size_t index, std::string_view shown, bool binary,
           std::span<const MatchRange> matches) override {
    if (batch_.events.capacity() == 0) TakeSpare();
    // A kept hit's text lies on the sink's shelf only.
    const KeptHit* kept = keep_ ? keep_->Put(index, shown, binary, matches) : nullptr;
    batch_.events.push_back({ScanEvent::Kind::Hit, binary, static_cast<uint32_t>(matches.size()),
                             index, batch_.texts.size(), kept ? 0 : shown.size(),
                             batch_.ranges.size(), kept});
    if (!kept) batch_.texts.append(shown);
    batch_.ranges.insert(batch_.ranges.end(), matches.begin(), matches.end());
    return batch_.Bytes() < kBatchBytes || Flush();
  }
  bool Context(size_t index, std::string_view shown) override {
    if (batch_.events.capacity() == 0) TakeSpare();
    batch_.events.push_back(
        {ScanEvent::Kind::Context, false, 0, index, batch_.texts.size(), shown.size(), 0});
    batch_.texts.append(shown);
    return batch_.Bytes() < kBatchBytes || Flush();
  }
  bool Break() override {
    batch_.events.push_back({ScanEvent::Kind::Break, false, 0, 0, 0, 0, 0});
    return true;
  }
  bool Passed(size_t index) override {
    if (pool_.stopping_.load(std::memory_order_relaxed)) return false;
    batch_.events.push_back({ScanEvent::Kind::Passed, false, 0, index, 0, 0, 0});
    return ++stretches_ < kBatchStretches || Flush();
  }
  bool Unsearched(size_t index) override {
    if (pool_.stopping_.load(std::memory_order_relaxed)) return false;
    batch_.events.push_back({ScanEvent::Kind::Unsearched, false, 0, index, 0, 0, 0});
    return batch_.Bytes() < kBatchBytes || Flush();
  }
  // The file's last findings; a file without any costs no turn at the lock here, and its
  // outcome waits to be published with those of the files claimed with it.
  void Finish() {
    if (!batch_.events.empty()) Flush();
  }
  bool Flush() {
    stretches_ = 0;
    // The files done before this one go first: the run may be waiting for them, and this
    // hand-over may have to wait for the run.
    pool_.Publish(unpublished_);
    return pool_.Hand(index_, size_, batch_);
  }

 private:
  void TakeSpare() {
    const std::lock_guard lock(pool_.mutex_);
    batch_ = pool_.Spare();
  }

  SearchPool& pool_;
  size_t index_;
  long long size_;
  std::vector<Outcome>& unpublished_;
  HitShelf::Writer* keep_;
  Findings batch_;
  size_t stretches_ = 0;
};

void YieldPriority(int steps) {
  if (steps <= 0) return;
  // Linux keeps a priority for each thread: this one's changes, its process's stays.
  const auto self = static_cast<id_t>(gettid());
  errno = 0;
  const int now = getpriority(PRIO_PROCESS, self);
  if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(now + steps, 19));
}

SearchPool::SearchPool(FileFeed& files, std::shared_ptr<const LineMatcher> matcher, size_t from,
                       unsigned threads, size_t blockSize, const SinkWants& wants, int yieldBy)
    : files_(files),
      matcher_(std::move(matcher)),
      // A worker reads in blocks of at most a quarter of a megabyte: larger ones read no
      // faster, and each thread's memory stays small.
      blockSize_(std::min(blockSize, kWorkerBlock)),
      wants_(wants),
      // The run takes findings while the tree is listed, so the window need only cover the
      // files the workers search while the run shows one; a file done without findings costs
      // about a hundred bytes.
      window_(std::max(size_t{1} << 15, size_t{1024} * threads)),
      // The findings not yet taken: a block for the run's file, an eighth of one per thread.
      budget_(blockSize + threads * (blockSize / 8)),
      next_(from),
      head_(from),
      doneTo_(from),
      listed_(files.Listed()),
      listing_(!files.Finished()),
      ahead_(from) {
  // Read in this order: once the list is finished, the count read after it is the whole.
  if (!listing_) listed_ = files.Listed();
  threads_.reserve(threads);
  for (unsigned t = 0; t < threads; ++t)
    threads_.emplace_back([this, yieldBy] {
      YieldPriority(yieldBy);
      Work();
    });
  // The readers hold a descriptor each for a moment; where descriptors are scarce the workers
  // need them all.
  if (DescriptorsFree() >= kReadersNeedFree)
    for (unsigned t = threads; t < kReadsInFlight; ++t)
      readers_.emplace_back([this, probes = t == threads, yieldBy] {
        YieldPriority(yieldBy);
        ReadAhead(probes);
      });
}

SearchPool::~SearchPool() {
  {
    const std::lock_guard lock(mutex_);
    cancel_ = true;
    stopping_ = true;
  }
  runWakes_.notify_all();
  workerWakes_.notify_all();
  roomWakes_.notify_all();
  aheadWakes_.notify_all();
  for (std::thread& t : threads_) t.join();
  for (std::thread& t : readers_) t.join();
}

// Waiting workers may claim again: there are files listed, and the window has room; once it
// was full, only when the run has taken half of it (a wake-up for each file taken would cost
// more than the files).
bool SearchPool::MayClaim(bool windowWasFull) const {
  return next_ < listed_ && next_ < head_ + (windowWasFull ? window_ / 2 : window_);
}

void SearchPool::Work() {
  FileReader reader(blockSize_);
  reader.SetEncoding(matcher_->Options().encoding);
  reader.SetPacked(matcher_->Options().packed);
  FolderCache folders;
  std::optional<HitShelf::Writer> keep;
  if (wants_.shelf) keep.emplace(*wants_.shelf);
  // The paths are copied under the lock: the run may drop an entry as soon as it has left
  // the file, while a worker still searches it.
  std::vector<std::pair<size_t, std::string>> claimed(kClaimRun);
  size_t claims = 0;
  std::vector<Outcome> done;  // outcomes not yet published
  for (;;) {
    claims = 0;
    {
      std::unique_lock lock(mutex_);
      const auto listEnds = [this] { return !listing_ && next_ >= listed_; };
      if (!cancel_ && !listEnds() && (next_ >= listed_ || next_ >= head_ + window_)) {
        // Wait for more of the list, or, with the window full, until the run has taken half.
        ++claimWaiting_;
        const bool windowFull = next_ < listed_;
        workerWakes_.wait(lock, [&] { return cancel_ || listEnds() || MayClaim(windowFull); });
        --claimWaiting_;
      }
      if (cancel_ || listEnds()) return;
      // A few files at a time: fewer turns at the lock.
      while (claims < kClaimRun && next_ < listed_ && next_ < head_ + window_) {
        auto& [index, path] = claimed[claims++];
        index = next_++;
        files_.PathOf(index, path);
      }
    }
    for (size_t c = 0; c < claims; ++c) {
      done.push_back(SearchOne(claimed[c].first, claimed[c].second, reader, folders, done,
                               keep ? &*keep : nullptr));
      if (done.back().stopped) return;
    }
    Publish(done);
  }
}

// Only a hint to the system: a file that cannot be looked at here is left to its worker.
// Only one reader probes; the others wait until a probe finds the cache cold.
void SearchPool::ReadAhead(bool probes) {
  std::string path;
  for (;;) {
    size_t index = 0;
    bool probe = false;
    {
      std::unique_lock lock(mutex_);
      ahead_ = std::max(ahead_, next_);
      if (cancel_ || (!listing_ && ahead_ >= listed_)) return;
      if (!probes && ahead_ >= coldUntil_) {
        aheadWakes_.wait(lock, [this] { return cancel_ || ahead_ < coldUntil_; });
        continue;
      }
      if (ahead_ >= listed_ || ahead_ >= next_ + kReadAheadFiles) {
        // Nobody wakes the readers but the end: the workers go on undisturbed.
        aheadWakes_.wait_for(lock, std::chrono::milliseconds(10));
        continue;
      }
      index = ahead_;
      probe = index >= coldUntil_;
      ahead_ += probe ? kProbeStep : 1;
      files_.PathOf(index, path);
    }
    // Regular files only: opening a device or a FIFO may do more than read.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) continue;
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.ok()) continue;
    if (probe) {
      // A read that would have to wait for the disk says the cache is cold here.
      char byte;
      iovec one{&byte, 1};
      if (::preadv2(fd.fd(), &one, 1, 0, RWF_NOWAIT) >= 0 || errno != EAGAIN) continue;
      {
        const std::lock_guard lock(mutex_);
        coldUntil_ = std::max(coldUntil_, index + kColdRun);
      }
      aheadWakes_.notify_all();
    }
    ::posix_fadvise(fd.fd(), 0, kReadAheadBytes, POSIX_FADV_WILLNEED);
  }
}

SearchPool::Outcome SearchPool::SearchOne(size_t index, const std::string& path, FileReader& reader,
                                          FolderCache& folders, std::vector<Outcome>& unpublished,
                                          HitShelf::Writer* keep) {
  Outcome outcome{index, false, 0, std::nullopt, false};
  try {
    std::string held;
    if (files_.TakeHeld(index, held)) {
      reader.OpenHeld(std::move(held));
      outcome.opened = true;
    } else {
      outcome.opened = folders.Open(reader, path);
    }
    if (!outcome.opened) outcome.error = reader.Error();
  } catch (const std::exception& e) {
    outcome.error = ErrorOf(e);
  }
  if (!outcome.opened) return outcome;
  outcome.size = reader.Size();
  // The run may be waiting for the files done before this one; a large file would hold them.
  if (outcome.size >= static_cast<long long>(kBatchBytes)) Publish(unpublished);
  Hooks hooks(*this, index, outcome.size, unpublished, keep);
  FileScan scan(hooks);
  scan.SetWants(wants_);
  FileScan::End end = FileScan::End::Failed;
  // A failure on one file ends its search; what it found so far stays.
  try {
    end = scan.Run(reader, matcher_);
    if (end == FileScan::End::Failed) outcome.error = reader.Error();
  } catch (const std::exception& e) {
    outcome.error = ErrorOf(e);
  }
  reader.Close();
  // A scan stops when the pool stops, or when the run has left the file; the worker goes on
  // with its next file in the second case.
  outcome.stopped = end == FileScan::End::Stopped && stopping_.load();
  if (end != FileScan::End::Stopped) hooks.Finish();
  if (end == FileScan::End::Done) outcome.lines = scan.Lines();
  return outcome;
}

// Lets the run see the outcomes of files done, under one turn at the lock.
void SearchPool::Publish(std::vector<Outcome>& outcomes) {
  if (outcomes.empty()) return;
  std::unique_lock lock(mutex_);
  for (const Outcome& o : outcomes) {
    if (o.index < head_) continue;  // the run left the file
    Slot& slot = SlotFor(o.index);
    slot.open = o.opened ? Open::Opened : Open::Skipped;
    slot.facts.size = o.size;
    slot.facts.lines = o.lines;
    slot.facts.error = o.error;
    slot.done = true;
  }
  outcomes.clear();
  AdvanceDone();
  const bool wake = WakesRun();
  lock.unlock();
  if (wake) runWakes_.notify_one();
}

// Whether to wake the run: its file has a batch, or a run of files from its own on is done,
// or all the files are. Small files are so taken in runs, not one wake-up each, and files done
// further on while the run's file is still searched wake nobody; the run's own timeout covers
// the rest.
bool SearchPool::WakesRun() const {
  if (!runWaiting_) return false;
  // While the tree is listed the run may be at the last files listed: all of those done is
  // a run too.
  if (doneTo_ >= head_ + kWakeAhead || (doneTo_ >= listed_ && (!listing_ || doneTo_ > head_)))
    return true;
  const Slot* slot = FindSlot(head_);
  return slot && !slot->batches.empty();
}

bool SearchPool::RoomWakeDue(bool headHasRoom) const {
  return !roomWaits_.empty() &&
         (queued_ <= budget_ / 2 || (headHasRoom && std::find(roomWaits_.begin(), roomWaits_.end(),
                                                              head_) != roomWaits_.end()));
}

SearchPool::Slot* SearchPool::FindSlot(size_t index) {
  return index >= head_ && index - head_ < slots_.size() ? &slots_[index - head_] : nullptr;
}

const SearchPool::Slot* SearchPool::FindSlot(size_t index) const {
  return index >= head_ && index - head_ < slots_.size() ? &slots_[index - head_] : nullptr;
}

SearchPool::Slot& SearchPool::SlotFor(size_t index) {
  while (slots_.size() <= index - head_) slots_.emplace_back();
  return slots_[index - head_];
}

// The run is done with the files before index: their findings no longer count.
void SearchPool::DropSlotsBefore(size_t index) {
  for (; head_ < index; ++head_) {
    if (slots_.empty()) {
      head_ = index;
      break;
    }
    queued_ -= slots_.front().bytes;
    slots_.pop_front();
  }
}

// Moves doneTo_ past the files done, in order from the one the run is at.
void SearchPool::AdvanceDone() {
  doneTo_ = std::max(doneTo_, head_);
  for (const Slot* slot = FindSlot(doneTo_); slot && slot->done; slot = FindSlot(doneTo_))
    ++doneTo_;
}

// The file the run is at may always queue up to the budget; the others share it. False when
// the pool stops or the run has left the file: its findings are no longer wanted. The slot is
// looked up afresh after every wait, since the run may have erased it meanwhile.
bool SearchPool::Hand(size_t index, long long size, Findings& batch) {
  if (batch.events.empty()) return true;
  const size_t bytes = batch.Bytes();
  std::unique_lock lock(mutex_);
  const auto left = [&] { return cancel_ || index < head_; };
  const auto room = [&] {
    if (left()) return true;
    if (index != head_) return queued_ < budget_;
    const Slot* slot = FindSlot(index);
    return !slot || slot->bytes < budget_;
  };
  if (!room()) {
    // The run may be waiting for a run of files done that this worker now holds up.
    if (runWaiting_) runWakes_.notify_one();
    roomWaits_.push_back(index);
    roomWakes_.wait(lock, room);
    roomWaits_.erase(std::find(roomWaits_.begin(), roomWaits_.end(), index));
  }
  if (left()) return false;
  Slot& slot = SlotFor(index);
  slot.open = Open::Opened;
  slot.facts.size = size;
  slot.batches.push_back(std::move(batch));
  slot.bytes += bytes;
  queued_ += bytes;
  batch = Spare();
  const bool wake = WakesRun();
  lock.unlock();
  if (wake) runWakes_.notify_one();
  return true;
}

SearchPool::Got SearchPool::Take(size_t index, Findings& out, FileFacts& facts,
                                 std::chrono::milliseconds wait) {
  if (!ready_.empty() && ready_.front().index == index) {
    const Ready r = ready_.front();
    ready_.pop_front();
    facts = r.facts;
    return r.got;
  }
  std::unique_lock lock(mutex_);
  Slot* slot = nullptr;
  const auto news = [&] {
    slot = FindSlot(index);
    if (!slot || slot->open == Open::Pending) return false;
    return slot->open == Open::Skipped || !slot->openedTold || !slot->batches.empty() || slot->done;
  };
  if (!news()) {
    runWaiting_ = true;
    const bool got = runWakes_.wait_for(lock, wait, news);
    runWaiting_ = false;
    if (!got) return Got::Nothing;
  }
  facts = slot->facts;
  // A file that is over is taken whole, and the run moves on to the next.
  const auto over = [&](Got got) {
    DropSlotsBefore(index + 1);
    // The files done after it without findings are taken at the same turn.
    for (const Slot* next = FindSlot(head_);
         next && next->done && next->batches.empty() && !next->openedTold; next = FindSlot(head_)) {
      ready_.push_back(
          {head_, next->open == Open::Skipped ? Got::Skipped : Got::Whole, next->facts});
      DropSlotsBefore(head_ + 1);
    }
    AdvanceDone();
    const bool room = RoomWakeDue();
    const bool claim = claimWaiting_ > 0 && MayClaim(true);
    lock.unlock();
    if (room) roomWakes_.notify_all();
    if (claim) workerWakes_.notify_all();
    return got;
  };
  if (slot->open == Open::Skipped) return over(Got::Skipped);
  if (!slot->openedTold) {
    slot->openedTold = true;
    if (slot->done && slot->batches.empty()) return over(Got::Whole);
    return Got::Opened;
  }
  if (!slot->batches.empty()) {
    KeepSpare(std::move(out));
    out = std::move(slot->batches.front());
    slot->batches.pop_front();
    const size_t bytes = out.Bytes();
    slot->bytes -= bytes;
    queued_ -= bytes;
    // Workers waiting for room are woken once half the budget is free (of the run's file, for
    // its own worker), not at every batch: many threads woken for one batch's room would
    // spend the processors on waking.
    const bool wake = RoomWakeDue(index == head_ && slot->bytes <= budget_ / 2);
    lock.unlock();
    if (wake) roomWakes_.notify_all();
    return Got::Findings;
  }
  return over(Got::Done);
}

void SearchPool::GiveBack(Findings&& batch) {
  const std::lock_guard lock(mutex_);
  KeepSpare(std::move(batch));
}

void SearchPool::KeepSpare(Findings&& batch) {
  constexpr size_t kSpares = 16;
  // A batch never filled has no buffers to give.
  if (batch.events.capacity() == 0 || spares_.size() >= kSpares) return;
  batch.clear();
  spares_.push_back(std::move(batch));
}

Findings SearchPool::Spare() {
  if (spares_.empty()) return {};
  Findings batch = std::move(spares_.back());
  spares_.pop_back();
  return batch;
}

void SearchPool::Release(size_t index) {
  std::unique_lock lock(mutex_);
  DropSlotsBefore(index + 1);
  AdvanceDone();
  // The run left the file early: every worker waiting for room may have to give up.
  const bool room = !roomWaits_.empty();
  const bool claim = claimWaiting_ > 0 && MayClaim(true);
  lock.unlock();
  if (room) roomWakes_.notify_all();
  if (claim) workerWakes_.notify_all();
}

void SearchPool::Listed(size_t count, bool done, bool waiting) {
  std::unique_lock lock(mutex_);
  listed_ = count;
  listing_ = !done;
  // Workers that caught up with the listing are woken once there is a run of files for them,
  // when the list is complete, or when the run waits for them; workers waiting for the window
  // to drain are not woken.
  const bool wake = claimWaiting_ > 0 &&
                    (done || (listed_ >= next_ + (waiting ? 1 : kListedAhead) && MayClaim(false)));
  lock.unlock();
  if (wake) workerWakes_.notify_all();
}

}  // namespace vorn
