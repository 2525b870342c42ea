// The entries of a run's file list, listed on one thread while the run and its workers take
// them on others. The listing publishes entries in order and waits when it runs too far ahead
// of the run; the run drops the entries it is done with, so a tree of any size costs memory
// only for the entries between the search and the listing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class FileFeed {
 public:
  // ahead: how many entries the listing may publish beyond those dropped. prefix: what goes
  // before an entry to make its path (the folder of a list of bare names; empty where the
  // entries are paths already).
  FileFeed(size_t ahead, std::string prefix);
  FileFeed(const FileFeed&) = delete;
  FileFeed& operator=(const FileFeed&) = delete;

  // The listing's side, on one thread. Add gathers an entry, Publish makes those gathered
  // visible (false once the run has abandoned the list), Fail notes a folder that could not
  // be read at the current place in the list, Finish publishes the rest and ends the list.
  void Add(std::string_view entry);
  bool Publish();
  void Fail(const std::string& path, int error);
  void Finish();
  // The content of the entry to be added next, read on the way (an archive member's), held for
  // its search; waits while the contents held ahead of the search fill kHeldBytes (a feed
  // whose listing never waits holds no more then).
  void Hold(std::string&& content);
  static constexpr size_t kHeldBytes = size_t{64} << 20;

  // The run's side. Entries stay where they are until dropped, so a view stays valid.
  size_t Listed() const { return listed_.load(std::memory_order_acquire); }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  std::string_view operator[](size_t index);
  // Entry index's path, into out (its memory reused).
  void PathOf(size_t index, std::string& out);
  // Waits at most wait for entry index to be listed; false when it is not (yet, or ever:
  // then Finished() is true).
  bool WaitFor(size_t index, std::chrono::milliseconds wait);
  // Takes the content held for entry index into out; false when none is.
  bool TakeHeld(size_t index, std::string& out);
  // Entries below index are no longer needed by anyone.
  void DropBefore(size_t index);
  // The listing stops at its next folder or publication.
  void Abandon();

  struct Failure {
    size_t at = 0;  // listed before this entry
    std::string path;
    int error = 0;
  };
  // The next folder failure listed before entry index, taken out of the feed.
  bool TakeFailure(size_t index, Failure& out);

 private:
  bool RoomLocked() const;

  // Entries are kept end to end in chunks that never move, so the listing and the run pay
  // for a chunk, not for each entry, and no entry is freed on another thread than the one
  // that allocated it one at a time.
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
    size_t used = 0;        // the listing's
    size_t end = SIZE_MAX;  // the index after its last entry, once the listing left it
  };

  const size_t ahead_;
  const std::string prefix_;
  std::vector<std::string_view> pending_;  // the listing's, not yet published
  Chunk* filling_ = nullptr;               // the listing's chunk, the last of chunks_
  std::mutex mutex_;
  std::condition_variable listedMore_;
  std::condition_variable dropped_;
  std::deque<Chunk> chunks_;
  std::deque<std::string_view> entries_;  // entries_[0] is entry base_
  size_t base_ = 0;
  std::deque<Failure> failures_;
  std::map<size_t, std::string> held_;
  size_t heldBytes_ = 0;
  // held_'s size, read without the lock: most searches hold nothing, and their files pass by
  // the lock. A content is held before its entry is published, so a reader that sees the
  // entry sees the count.
  std::atomic<size_t> heldCount_{0};
  std::condition_variable heldTaken_;
  bool runWaiting_ = false;
  bool listingWaiting_ = false;
  bool abandoned_ = false;
  std::atomic<size_t> listed_{0};
  std::atomic<bool> finished_{false};
};

}  // namespace vorn
