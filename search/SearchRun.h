// One search run: lists the files, reads each, decides hits line by line and reports result
// lines, status texts and pump points to a listener. No GUI here: the main window and the
// command-line front end both drive this class.
#pragma once

#include <atomic>
#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "FileReader.h"
#include "FileScan.h"
#include "LineMatcher.h"
#include "SearchHit.h"
#include "io.h"

namespace vorn {

class FileFeed;
class SearchPool;

// Every call comes on the thread that runs the search, whatever the number of threads.
class SearchListener {
 public:
  virtual ~SearchListener() = default;
  // The hits found since the last call, in their order: a batch at a time, but always before
  // any status or pump that follows them and before the run stops (PumpDue and StopRequested
  // may be asked before the hits they follow come). They view the run's bytes for this call.
  virtual void Results(std::span<const SearchHit> hits) = 0;
  virtual void Status(std::string_view text) { (void)text; }
  // The line (0-based) of the file at path could not be searched: the regular expression
  // needs too much work for it. Comes in the order of the hits around it.
  virtual void Unsearched(std::string_view path, size_t lineIndex) {
    (void)path;
    (void)lineIndex;
  }
  // Asked at every point where the run may pump events; the caller's clock answers. Only
  // after a true answer does the run show the current status, call Pump(), and read
  // StopRequested() and Options() (changed options count from the next line).
  virtual bool PumpDue() { return false; }
  virtual void Pump() {}
  virtual bool StopRequested() { return false; }
  virtual SearchOptions Options() = 0;
  // Asked after a due pump while the run waits for the tree's listing; false abandons the
  // listing and the run (the program is closing).
  virtual bool ListingGoesOn() { return true; }
  // Asked once when the run starts: false when a file's first hit is all the listener needs of
  // it (it lists only the names of the files with hits), so the run stops reading a file there.
  virtual bool RestOfFileWanted() { return true; }
  // The same for a file found binary (the listener tells of such a file by its name only).
  virtual bool RestOfBinaryFileWanted() { return true; }
  // A file or folder that could not be opened or read, with the system's error number; the
  // run goes on without it, keeping what was found in it before the failure.
  virtual void FileError(std::string_view path, int error) {
    (void)path;
    (void)error;
  }
};

enum class SearchEnd { Finished, Aborted };

class SearchRun : private FileScan::Hooks {
 public:
  static constexpr size_t kShownLineBytes = FileScan::kShownLineBytes;

  // directory is taken as given (the caller adds the trailing separator); the listing, the
  // mask and the file list are fixed for the whole run.
  SearchRun(std::string directory, std::string mask, bool includeSubdirectories,
            SearchListener& listener);
  ~SearchRun() override;

  // Line by line: every line is a pump point and every 50th line reports its status, as a
  // naive run would; the default skips from candidate to candidate and reports the status
  // only when a pump is due. Both give the same results.
  void SetLineByLine(bool on) { lineByLine_ = on; }
  void SetBlockSize(size_t bytes) { blockSize_ = bytes; }
  // How many entries the listing may run ahead of the search (0: enough for the workers).
  void SetListAhead(size_t entries) { listAhead_ = entries; }
  // Files are read and searched on this many threads, 0 (the default) meaning one per online
  // CPU. Results, statuses and pump points reach the listener on the calling thread, in the
  // order one thread gives them.
  void SetThreads(unsigned count);
  // Ignore files, hidden names and links to folders (io.h); the plain listing by default.
  void SetListing(const ListingOptions& options) { listing_ = options; }

  SearchEnd Run();

 private:
  // Enough: the file is left at its first hit.
  enum class Step { Go, Stop, Enough };
  Step PumpPoint(bool checkStop = true);
  Step PumpNow(bool checkStop = true);
  void ReportStatus();
  bool SwitchOptionsIfChanged();
  void Report(std::string_view shown, size_t index, bool binary);
  void Deliver();
  bool Hit(size_t index, std::string_view shown, bool binary) override;
  bool Passed(size_t index) override;
  bool Unsearched(size_t index) override;
  void StartFile(std::string_view entry, long long size);
  Step SearchFile(std::string_view entry, size_t firstLine);
  Step SearchBlockLineByLine(std::string_view block);
  Step ReplayFile(FileFeed& files, size_t index);
  Step ResumeFile(FileFeed& files, size_t index, size_t firstLine);
  void StartPool(FileFeed& files, size_t from);
  void Forward(FileFeed& files, bool waiting);
  bool AwaitEntry(FileFeed& files, size_t index, bool& abandoned);
  bool OpenNext();
  std::optional<size_t> FileLines();
  unsigned ThreadCount() const;
  unsigned FitThreads(unsigned wanted) const;
  void ReportError(int error);

  // The listener, noting whether an error was thrown from within it: that one is the
  // caller's and leaves the run, where a failure on a file only skips the file.
  class Calls {
    template <typename F>
    auto Call(F&& f) {
      threw_ = true;
      if constexpr (std::is_void_v<decltype(f())>) {
        f();
        threw_ = false;
      } else {
        auto result = f();
        threw_ = false;
        return result;
      }
    }
    SearchListener& listener_;
    bool threw_ = false;

   public:
    explicit Calls(SearchListener& listener) : listener_(listener) {}
    void Results(std::span<const SearchHit> hits) {
      Call([&] { listener_.Results(hits); });
    }
    void Status(std::string_view text) {
      Call([&] { listener_.Status(text); });
    }
    void Unsearched(std::string_view path, size_t line) {
      Call([&] { listener_.Unsearched(path, line); });
    }
    bool PumpDue() {
      return Call([&] { return listener_.PumpDue(); });
    }
    void Pump() {
      Call([&] { listener_.Pump(); });
    }
    bool StopRequested() {
      return Call([&] { return listener_.StopRequested(); });
    }
    SearchOptions Options() {
      return Call([&] { return listener_.Options(); });
    }
    bool ListingGoesOn() {
      return Call([&] { return listener_.ListingGoesOn(); });
    }
    bool RestOfFileWanted() {
      return Call([&] { return listener_.RestOfFileWanted(); });
    }
    bool RestOfBinaryFileWanted() {
      return Call([&] { return listener_.RestOfBinaryFileWanted(); });
    }
    void FileError(std::string_view path, int error) {
      Call([&] { listener_.FileError(path, error); });
    }
    bool Threw() const { return threw_; }
  };

  std::string directory_;
  std::string mask_;
  bool recursive_;
  Calls listener_;
  bool lineByLine_ = false;
  size_t blockSize_ = size_t{1} << 20;
  unsigned threads_ = 0;
  size_t listAhead_ = 0;
  ListingOptions listing_;
  unsigned workers_ = 1;                  // the threads of this run, fitted to the descriptors free
  LeaveAtHit leave_ = LeaveAtHit::Never;  // where a file is left at a hit

  FolderCache folders_;
  std::shared_ptr<const LineMatcher> matcher_;
  std::optional<SearchOptions> pendingOptions_;  // read at a pump, used from the next line
  FileScan* scan_ = nullptr;                     // the file scan under way on this thread
  std::unique_ptr<SearchPool> pool_;
  size_t forwarded_ = 0;          // entries the pool has been told of
  FileReader reader_;             // the file searched on this thread
  FileReader spare_;              // tries the next file, so a failed open leaves reader_ intact
  bool readerHoldsFile_ = false;  // reader_ holds the file the status speaks of

  // What the status speaks of: the file last opened and the line the run is at.
  std::string path_;
  std::optional<std::string> entry_;
  bool fileDone_ = false;
  long long fileSize_ = 0;
  size_t lineBase_ = 0;  // line by line: index of the current block's first line
  size_t currentLine_ = 0;
  std::optional<size_t> fileLines_;
  // A large file's lines are counted aside, so the window keeps pumping meanwhile.
  std::future<std::optional<size_t>> counting_;
  std::shared_ptr<std::atomic<bool>> countCancel_;
  // Hits reported but not yet handed to the listener; they view path_ and the findings.
  std::vector<SearchHit> hits_;
  FileReader counter_;     // counts the lines of a file the workers searched, for the status
  size_t unsearched_ = 0;  // lines the pattern needed too much work for
};

}  // namespace vorn
