// Reads and searches the files of a run on worker threads, ahead of the run, and hands each
// file's findings over in the list's order. Memory stays bounded: a few files in flight per
// thread, and a cap on findings not yet taken.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "FileScan.h"
#include "HitShelf.h"
#include "LineMatcher.h"

namespace vorn {

class FileFeed;

// The system's error number a failure to search a file stands for.
inline int ErrorOf(const std::exception& e) {
  return dynamic_cast<const std::bad_alloc*>(&e) ? ENOMEM : EIO;
}
class FileReader;
class FolderCache;

// A hit line, a context line or a break between context groups, or a stretch scanned in the
// line under way, or a line left undecided.
struct ScanEvent {
  enum class Kind : unsigned char { Passed, Hit, Context, Break, Unsearched };
  Kind kind = Kind::Passed;
  bool binary = false;  // a hit in a file found binary
  uint32_t rangeCount = 0;
  size_t line = 0;
  size_t textStart = 0;
  size_t textLength = 0;
  size_t rangeStart = 0;
  const KeptHit* kept = nullptr;  // a hit on the sink's shelf: its text lies there
};

// A batch of one file's events in order, with the shown texts of its lines and the matches of
// its hits.
struct Findings {
  std::vector<ScanEvent> events;
  std::string texts;
  std::vector<MatchRange> ranges;
  std::string_view Text(const ScanEvent& e) const {
    return e.kept ? e.kept->Text() : std::string_view(texts.data() + e.textStart, e.textLength);
  }
  std::span<const MatchRange> Ranges(const ScanEvent& e) const {
    return {ranges.data() + e.rangeStart, e.rangeCount};
  }
  size_t Bytes() const {
    return texts.size() + events.size() * sizeof(ScanEvent) + ranges.size() * sizeof(MatchRange);
  }
  void clear() {
    events.clear();
    texts.clear();
    ranges.clear();
  }
};

// Lowers the calling thread's scheduling priority by steps of nice (none for 0 or less): a
// thread that works for another, which must answer at once when it wakes, yields to it.
void YieldPriority(int steps);

class SearchPool {
 public:
  // Searches files[from], files[from + 1], ... with matcher on threads threads, blocks of
  // blockSize bytes. While the list still grows, the run tells the pool of it through Listed.
  // wants: the context, the hit lines a file is left after, and whether matches are wanted.
  // yieldBy: how much lower than the calling thread's the threads' priority is (nice steps).
  SearchPool(FileFeed& files, std::shared_ptr<const LineMatcher> matcher, size_t from,
             unsigned threads, size_t blockSize, const SinkWants& wants = {}, int yieldBy = 0);
  // Stops the workers at their next block and waits for them.
  ~SearchPool();
  SearchPool(const SearchPool&) = delete;
  SearchPool& operator=(const SearchPool&) = delete;

  enum class Got { Nothing, Skipped, Opened, Findings, Done, Whole };
  struct FileFacts {
    long long size = 0;
    std::optional<size_t> lines;  // known when the file was read to its end
    int error = 0;                // why it could not be opened, or read to its end
  };
  // What is new about file index, the one the run is at, waiting at most wait: Skipped (it
  // could not be opened), or Opened, then Findings batches, then Done; or Whole, for a file
  // done without findings. After Skipped, Done and Whole the next file is the one the run is at.
  Got Take(size_t index, Findings& out, FileFacts& facts, std::chrono::milliseconds wait);
  // The run leaves file index before its end; the next file becomes the one it is at.
  void Release(size_t index);
  // A batch the run is done with: its buffers serve a worker's next batch.
  void GiveBack(Findings&& batch);
  // While the list is being built: the entries listed so far, whether that is all, and
  // whether the run is waiting for the workers.
  void Listed(size_t count, bool done, bool waiting);

 private:
  enum class Open { Pending, Opened, Skipped };
  struct Slot {
    Open open = Open::Pending;  // until a worker tells of the file, the run does not see it
    bool openedTold = false;
    std::list<Findings> batches;  // unlike a deque, allocates nothing while empty
    size_t bytes = 0;
    bool done = false;
    FileFacts facts;
  };
  class Hooks;

  bool MayClaim(bool windowWasFull) const;
  // Under the lock: keeps an emptied batch, or hands one out (empty when none is kept).
  void KeepSpare(Findings&& batch);
  Findings Spare();
  void Work();
  struct Outcome {
    size_t index;
    bool opened;
    long long size;
    std::optional<size_t> lines;
    bool stopped;
    int error = 0;
  };
  Outcome SearchOne(size_t index, const std::string& path, FileReader& reader, FolderCache& folders,
                    std::vector<Outcome>& unpublished, HitShelf::Writer* keep);
  void Publish(std::vector<Outcome>& outcomes);
  void ReadAhead(bool probes);
  bool WakesRun() const;
  void AdvanceDone();
  // The slot of file index, or nullptr: the run has left it, or nothing is known of it yet.
  Slot* FindSlot(size_t index);
  const Slot* FindSlot(size_t index) const;
  // The slot of file index, at or after the run's file, made when there is none.
  Slot& SlotFor(size_t index);
  void DropSlotsBefore(size_t index);
  // Room is worth waking for: half the budget is free, or the run is at a waiting file and
  // (headHasRoom) that file has room.
  bool RoomWakeDue(bool headHasRoom = true) const;
  bool Hand(size_t index, long long size, Findings& batch);

  FileFeed& files_;
  const std::shared_ptr<const LineMatcher> matcher_;
  const size_t blockSize_;
  const SinkWants wants_;
  const size_t window_;  // files in flight beyond the one the run is at
  const size_t budget_;  // bytes of findings not yet taken

  // The run waits on runWakes_, the workers for files to claim on workerWakes_ and for room
  // for their findings on roomWakes_; each is woken only when there is enough for it to do,
  // which spares a wake-up per file (with many threads and many hits, waking every worker
  // at every file would spend the processors on waking).
  std::mutex mutex_;
  std::condition_variable runWakes_;
  std::condition_variable workerWakes_;
  std::condition_variable roomWakes_;
  bool runWaiting_ = false;
  size_t claimWaiting_ = 0;        // workers waiting for the window to drain
  std::vector<size_t> roomWaits_;  // the files whose workers wait for findings to be taken
  std::deque<Slot> slots_;         // slots_[i] is file head_ + i; none exist below the run's file
  size_t next_;                    // the next file to claim
  size_t head_;                    // the file the run is at
  size_t doneTo_;                  // the files from head_ up to here are done
  size_t queued_ = 0;
  // Batches the run has emptied: a worker fills one again rather than growing new buffers,
  // and the run frees none.
  std::vector<Findings> spares_;
  size_t listed_;  // entries the workers may claim
  bool listing_;
  bool cancel_ = false;
  std::atomic<bool> stopping_{false};  // cancel_, read without the lock at every stretch
  std::vector<std::thread> threads_;
  // The threads that ask the system to read the files ahead of the workers on a cold cache.
  std::condition_variable aheadWakes_;
  size_t ahead_;          // the next file to read ahead
  size_t coldUntil_ = 0;  // below here each file is read ahead; from here on only probed
  std::vector<std::thread> readers_;
  // Files the run has taken from the slots ahead of time, only touched by the run's thread.
  struct Ready {
    size_t index;
    Got got;
    FileFacts facts;
  };
  std::deque<Ready> ready_;
};

}  // namespace vorn
