#include "SearchPool.h"

#include <exception>

#include "FileReader.h"
#include "FileScan.h"

namespace vorn {

namespace {

constexpr size_t kBatchBytes = size_t{64} << 10;
// Passed events per batch: a file scanned at length reaches the run in steady steps.
constexpr size_t kBatchStretches = 16;

}  // namespace

// A worker's side of one file: events are gathered into batches and handed over.
class SearchPool::Hooks : public FileScan::Hooks {
 public:
  Hooks(SearchPool& pool, size_t index) : pool_(pool), index_(index) {}

  bool Hit(size_t index, std::string_view shown) override {
    batch_.events.push_back({true, index, batch_.texts.size(), shown.size()});
    batch_.texts.append(shown);
    return batch_.Bytes() < kBatchBytes || Flush();
  }
  bool Passed(size_t index) override {
    if (pool_.stopping_.load(std::memory_order_relaxed)) return false;
    batch_.events.push_back({false, index, 0, 0});
    return ++stretches_ < kBatchStretches || Flush();
  }
  bool Flush() {
    stretches_ = 0;
    return pool_.Hand(index_, batch_);
  }

 private:
  SearchPool& pool_;
  size_t index_;
  Findings batch_;
  size_t stretches_ = 0;
};

SearchPool::SearchPool(const FileList& files, std::string directory, bool recursive,
                       std::shared_ptr<const LineMatcher> matcher, size_t from, unsigned threads,
                       size_t blockSize)
    : files_(files),
      directory_(std::move(directory)),
      recursive_(recursive),
      matcher_(std::move(matcher)),
      blockSize_(blockSize),
      window_(size_t{32} * threads),
      budget_(size_t{2} * threads * blockSize),
      next_(from),
      head_(from) {
  threads_.reserve(threads);
  for (unsigned t = 0; t < threads; ++t) threads_.emplace_back([this] { Work(); });
}

SearchPool::~SearchPool() {
  {
    const std::lock_guard lock(mutex_);
    cancel_ = true;
    stopping_ = true;
  }
  runWakes_.notify_all();
  workerWakes_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void SearchPool::Work() {
  FileReader reader(blockSize_);
  FolderCache folders;
  for (;;) {
    size_t index;
    {
      std::unique_lock lock(mutex_);
      if (!cancel_ && next_ < files_.size() && next_ >= head_ + window_) {
        // The window is full: claim again once the run has taken half of it.
        claimAgainAt_ = next_ - window_ / 2;
        ++claimWaiting_;
        workerWakes_.wait(lock, [this] {
          return cancel_ || next_ >= files_.size() || next_ < head_ + window_ / 2;
        });
        --claimWaiting_;
      }
      if (cancel_ || next_ >= files_.size()) return;
      index = next_++;
      slots_[index];
    }
    SearchOne(index, reader, folders);
  }
}

void SearchPool::SearchOne(size_t index, FileReader& reader, FolderCache& folders) {
  const std::string& entry = files_[index];
  bool opened = false;
  try {
    opened = folders.Open(reader, recursive_ ? entry : directory_ + entry);
  } catch (const std::exception&) {
  }
  {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[index];
    slot.open = opened ? Open::Opened : Open::Skipped;
    slot.facts.size = opened ? reader.Size() : 0;
    slot.done = !opened;
    if (!opened) Publish(index, slot, lock);
  }
  if (!opened) return;
  Hooks hooks(*this, index);
  FileScan scan(hooks);
  FileScan::End end = FileScan::End::Failed;
  // A failure on one file ends its search; what it found so far stays.
  try {
    end = scan.Run(reader, matcher_);
  } catch (const std::exception&) {
  }
  reader.Close();
  if (end == FileScan::End::Stopped) return;
  hooks.Flush();
  std::unique_lock lock(mutex_);
  Slot& slot = slots_[index];
  slot.done = true;
  if (end == FileScan::End::Done) slot.facts.lines = scan.Lines();
  Publish(index, slot, lock);
}

// Lets the run see the file's state, and wakes it when that is worth it: its file has a
// batch, or files well past it are done, or the last file is. Small files are so taken in
// runs, not one wake-up each; the run's own timeout covers the rest.
void SearchPool::Publish(size_t index, Slot& slot, std::unique_lock<std::mutex>& lock) {
  slot.told = true;
  const bool wake = runWaiting_ && ((index == head_ && !slot.batches.empty()) ||
                                    index >= head_ + window_ / 4 || index + 1 == files_.size());
  lock.unlock();
  if (wake) runWakes_.notify_one();
}

// The file the run is at may always queue up to the budget; the others share it.
bool SearchPool::Hand(size_t index, Findings& batch) {
  if (batch.events.empty()) return true;
  const size_t bytes = batch.Bytes();
  std::unique_lock lock(mutex_);
  Slot& slot = slots_[index];
  const auto room = [&] {
    return cancel_ || (index == head_ ? slot.bytes < budget_ : queued_ < budget_);
  };
  if (!room()) {
    ++roomWaiting_;
    workerWakes_.wait(lock, room);
    --roomWaiting_;
  }
  if (cancel_) return false;
  slot.batches.push_back(std::move(batch));
  slot.bytes += bytes;
  queued_ += bytes;
  batch = Findings{};
  Publish(index, slot, lock);
  return true;
}

SearchPool::Got SearchPool::Take(size_t index, Findings& out, FileFacts& facts,
                                 std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  Slot* slot = nullptr;
  const auto news = [&] {
    const auto it = slots_.find(index);
    if (it == slots_.end() || !it->second.told) return false;
    slot = &it->second;
    return slot->open == Open::Skipped || !slot->openedTold || !slot->batches.empty() || slot->done;
  };
  if (!news()) {
    runWaiting_ = true;
    const bool got = runWakes_.wait_for(lock, wait, news);
    runWaiting_ = false;
    if (!got) return Got::Nothing;
  }
  if (slot->open == Open::Skipped) return Got::Skipped;
  facts = slot->facts;
  if (!slot->openedTold) {
    slot->openedTold = true;
    return Got::Opened;
  }
  if (!slot->batches.empty()) {
    out = std::move(slot->batches.front());
    slot->batches.pop_front();
    const size_t bytes = out.Bytes();
    slot->bytes -= bytes;
    queued_ -= bytes;
    const bool wake = roomWaiting_ > 0;
    lock.unlock();
    if (wake) workerWakes_.notify_all();
    return Got::Findings;
  }
  return Got::Done;
}

void SearchPool::Release(size_t index) {
  std::unique_lock lock(mutex_);
  const auto it = slots_.find(index);
  if (it != slots_.end()) {
    queued_ -= it->second.bytes;
    slots_.erase(it);
  }
  head_ = index + 1;
  const bool wake = roomWaiting_ > 0 || (claimWaiting_ > 0 && head_ >= claimAgainAt_);
  lock.unlock();
  if (wake) workerWakes_.notify_all();
}

}  // namespace vorn
