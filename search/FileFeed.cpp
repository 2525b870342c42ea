#include "FileFeed.h"

#include <algorithm>

namespace vorn {

namespace {

// Entries gathered before the listing publishes them, so the first files reach the search
// at once even in a large folder.
constexpr size_t kPublishRun = 256;
constexpr size_t kChunkBytes = size_t{64} << 10;

}  // namespace

FileFeed::FileFeed(size_t ahead, std::string prefix) : ahead_(ahead), prefix_(std::move(prefix)) {}

void FileFeed::Add(std::string_view entry) {
  if (!filling_ || filling_->capacity - filling_->used < entry.size()) {
    Chunk chunk;
    chunk.capacity = std::max(kChunkBytes, entry.size());
    chunk.bytes = std::make_unique_for_overwrite<char[]>(chunk.capacity);
    const std::lock_guard lock(mutex_);
    if (filling_) filling_->end = base_ + entries_.size() + pending_.size();
    chunks_.push_back(std::move(chunk));
    filling_ = &chunks_.back();
  }
  char* at = filling_->bytes.get() + filling_->used;
  std::copy(entry.begin(), entry.end(), at);
  filling_->used += entry.size();
  pending_.emplace_back(at, entry.size());
  if (pending_.size() >= kPublishRun) Publish();
}

bool FileFeed::RoomLocked() const { return abandoned_ || entries_.size() < ahead_; }

bool FileFeed::Publish() {
  std::unique_lock lock(mutex_);
  if (!pending_.empty()) {
    entries_.insert(entries_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    listed_.store(base_ + entries_.size(), std::memory_order_release);
    if (runWaiting_) listedMore_.notify_one();
  }
  if (!RoomLocked()) {
    listingWaiting_ = true;
    dropped_.wait(lock, [this] { return RoomLocked(); });
    listingWaiting_ = false;
  }
  return !abandoned_;
}

void FileFeed::Fail(const std::string& path, int error) {
  const std::lock_guard lock(mutex_);
  failures_.push_back({base_ + entries_.size() + pending_.size(), path, error});
}

void FileFeed::Finish() {
  Publish();
  const std::lock_guard lock(mutex_);
  finished_.store(true, std::memory_order_release);
  listedMore_.notify_all();
}

void FileFeed::Hold(std::string&& content) {
  if (content.size() > kHeldBytes) return;
  std::unique_lock lock(mutex_);
  const auto room = [&] { return abandoned_ || heldBytes_ + content.size() <= kHeldBytes; };
  if (!room()) {
    // A listing that never waits for the search (the one made before it) holds no more.
    if (ahead_ == SIZE_MAX) return;
    // The search frees room as it takes the entries: they must be visible to it first.
    lock.unlock();
    Publish();
    lock.lock();
    heldTaken_.wait(lock, room);
  }
  if (abandoned_) return;
  heldBytes_ += content.size();
  heldCount_.fetch_add(1, std::memory_order_relaxed);
  held_.emplace(base_ + entries_.size() + pending_.size(), std::move(content));
}

bool FileFeed::TakeHeld(size_t index, std::string& out) {
  if (heldCount_.load(std::memory_order_relaxed) == 0) return false;
  const std::lock_guard lock(mutex_);
  const auto it = held_.find(index);
  if (it == held_.end()) return false;
  out = std::move(it->second);
  heldBytes_ -= out.size();
  held_.erase(it);
  heldCount_.fetch_sub(1, std::memory_order_relaxed);
  heldTaken_.notify_one();
  return true;
}

std::string_view FileFeed::operator[](size_t index) {
  const std::lock_guard lock(mutex_);
  return entries_[index - base_];
}

void FileFeed::PathOf(size_t index, std::string& out) {
  const std::lock_guard lock(mutex_);
  out.assign(prefix_).append(entries_[index - base_]);
}

bool FileFeed::WaitFor(size_t index, std::chrono::milliseconds wait) {
  if (index < Listed()) return true;
  std::unique_lock lock(mutex_);
  runWaiting_ = true;
  listedMore_.wait_for(lock, wait, [&] { return index < Listed() || Finished(); });
  runWaiting_ = false;
  return index < Listed();
}

void FileFeed::DropBefore(size_t index) {
  std::vector<std::unique_ptr<char[]>> done;  // freed after the lock
  const std::lock_guard lock(mutex_);
  const size_t drop = std::min(index > base_ ? index - base_ : 0, entries_.size());
  entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(drop));
  base_ += drop;
  // Contents the search never took (it left those entries early) go with them.
  bool freed = false;
  while (!held_.empty() && held_.begin()->first < base_) {
    heldBytes_ -= held_.begin()->second.size();
    held_.erase(held_.begin());
    heldCount_.fetch_sub(1, std::memory_order_relaxed);
    freed = true;
  }
  if (freed) heldTaken_.notify_one();
  while (!chunks_.empty() && chunks_.front().end <= base_) {
    done.push_back(std::move(chunks_.front().bytes));
    chunks_.pop_front();
  }
  // The listing goes on once half its room is free again, not at every entry.
  if (listingWaiting_ && entries_.size() <= ahead_ / 2) dropped_.notify_one();
}

void FileFeed::Abandon() {
  const std::lock_guard lock(mutex_);
  abandoned_ = true;
  dropped_.notify_all();
  heldTaken_.notify_all();
}

bool FileFeed::TakeFailure(size_t index, Failure& out) {
  const std::lock_guard lock(mutex_);
  if (failures_.empty() || failures_.front().at > index) return false;
  out = std::move(failures_.front());
  failures_.pop_front();
  return true;
}

}  // namespace vorn
