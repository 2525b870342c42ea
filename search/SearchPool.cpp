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
      window_(size_t{4} * threads),
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
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void SearchPool::Work() {
  FileReader reader(blockSize_);
  FolderCache folders;
  for (;;) {
    size_t index;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(
          lock, [this] { return cancel_ || next_ >= files_.size() || next_ < head_ + window_; });
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
    const std::lock_guard lock(mutex_);
    Slot& slot = slots_[index];
    slot.open = opened ? Open::Opened : Open::Skipped;
    slot.facts.size = opened ? reader.Size() : 0;
    slot.done = !opened;
  }
  changed_.notify_all();
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
  {
    const std::lock_guard lock(mutex_);
    Slot& slot = slots_[index];
    slot.done = true;
    if (end == FileScan::End::Done) slot.facts.lines = scan.Lines();
  }
  changed_.notify_all();
}

// The file the run is at may always queue up to the budget; the others share it.
bool SearchPool::Hand(size_t index, Findings& batch) {
  if (batch.events.empty()) return true;
  const size_t bytes = batch.Bytes();
  {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[index];
    changed_.wait(lock, [&] {
      return cancel_ || (index == head_ ? slot.bytes < budget_ : queued_ < budget_);
    });
    if (cancel_) return false;
    slot.batches.push_back(std::move(batch));
    slot.bytes += bytes;
    queued_ += bytes;
  }
  changed_.notify_all();
  batch = Findings{};
  return true;
}

SearchPool::Got SearchPool::Take(size_t index, Findings& out, FileFacts& facts,
                                 std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  Slot* slot = nullptr;
  const auto news = [&] {
    const auto it = slots_.find(index);
    if (it == slots_.end()) return false;
    slot = &it->second;
    return slot->open == Open::Skipped || (slot->open == Open::Opened && !slot->openedTold) ||
           !slot->batches.empty() || slot->done;
  };
  if (!changed_.wait_for(lock, wait, news)) return Got::Nothing;
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
    lock.unlock();
    changed_.notify_all();
    return Got::Findings;
  }
  return Got::Done;
}

void SearchPool::Release(size_t index) {
  {
    const std::lock_guard lock(mutex_);
    const auto it = slots_.find(index);
    if (it != slots_.end()) {
      queued_ -= it->second.bytes;
      slots_.erase(it);
    }
    head_ = index + 1;
  }
  changed_.notify_all();
}

}  // namespace vorn
