// One search run: lists the files, reads each, decides hits line by line and hands what it
// finds to a results sink, pumping where its pacer says. No GUI here: the main window and the
// command-line front end both drive this class.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
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
#include "ResultsSink.h"
#include "RunPacer.h"
#include "SearchHit.h"
#include "io.h"

namespace vorn {

class FileFeed;
class SearchPool;

// Ended: the sink wanted no more.
enum class SearchEnd { Finished, Aborted, Ended };

class SearchRun : private FileScan::Hooks {
 public:
  static constexpr size_t kShownLineBytes = FileScan::kShownLineBytes;

  // directory is taken as given (the caller adds the trailing separator); the listing, the
  // mask and the file list are fixed for the whole run. options hold from the start; a pacer
  // may change them at its pumps. Without a pacer the run never pumps and never stops early.
  SearchRun(std::string directory, std::string mask, bool includeSubdirectories,
            SearchOptions options, ResultsSink& sink, RunPacer* pacer = nullptr);
  ~SearchRun() override;

  // Line by line: every line is a pump point and every 50th line reports its progress, as a
  // naive run would; the default skips from candidate to candidate and reports the progress
  // only when a pump is due. Both give the same results.
  void SetLineByLine(bool on) { lineByLine_ = on; }
  void SetBlockSize(size_t bytes) { blockSize_ = bytes; }
  // How many entries the listing may run ahead of the search (0: enough for the workers).
  void SetListAhead(size_t entries) { listAhead_ = entries; }
  // Files are read and searched on this many threads, 0 (the default) meaning one per online
  // CPU. Findings and pump points reach the sink and the pacer on the calling thread, in the
  // order one thread gives them.
  void SetThreads(unsigned count);
  // The run's threads (listing, reading, searching) yield to the calling thread by this many
  // steps of priority (nice), so a window that pumps on it gets a processor the moment it
  // wakes; 0 (the default) leaves them as they are.
  void SetYieldBy(int steps) { yieldBy_ = steps; }
  // Ignore files, hidden names and links to folders (io.h); the plain listing by default.
  void SetListing(const ListingOptions& options) { listing_ = options; }

  SearchEnd Run();
  // The lines the last run could not search (the pattern needed too much work for them).
  size_t UnsearchedLines() const { return unsearched_; }

 private:
  // Enough: the file is left at its first hit.
  enum class Step { Go, Stop, Enough };
  Step PumpPoint(bool checkStop = true);
  Step PumpNow(bool checkStop = true);
  RunProgress Where(bool opened = false) const;
  bool SwitchOptionsIfChanged();
  void Report(FoundKind kind, std::string_view shown, size_t index, bool binary = false,
              std::span<const MatchRange> matches = {}, const KeptHit* kept = nullptr);
  void Deliver();
  void BeginFile();
  void EndFile();
  bool Hit(size_t index, std::string_view shown, bool binary,
           std::span<const MatchRange> matches) override;
  bool Context(size_t index, std::string_view shown) override;
  bool Break() override;
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
  // files and index: the entry's content may be held in the list.
  bool OpenNext(FileFeed* files = nullptr, size_t index = 0);
  unsigned ThreadCount() const;
  unsigned FitThreads(unsigned wanted) const;
  void ReportError(int error);

  // The sink and the pacer, noting whether an error was thrown from within them: that one is
  // the caller's and leaves the run, where a failure on a file only skips the file. After each
  // sink call the sink is asked whether it wants more.
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
    template <typename F>
    void Sink(F&& f) {
      Call([&] {
        f();
        ended_ = ended_ || !sink_.MoreWanted();
      });
    }
    ResultsSink& sink_;
    RunPacer fallback_;
    RunPacer& pacer_;
    bool threw_ = false;
    bool ended_ = false;

   public:
    Calls(ResultsSink& sink, RunPacer* pacer) : sink_(sink), pacer_(pacer ? *pacer : fallback_) {}
    SinkWants Wants() {
      return Call([&] { return sink_.Wants(); });
    }
    void FileBegins(std::string_view path) {
      Sink([&] { sink_.FileBegins(path); });
    }
    void Lines(std::span<const SearchHit> lines) {
      Sink([&] { sink_.Lines(lines); });
    }
    void Unsearched(std::string_view path, size_t line) {
      Sink([&] { sink_.Unsearched(path, line); });
    }
    void FileError(std::string_view path, int error) {
      Sink([&] { sink_.FileError(path, error); });
    }
    void FileEnds(std::string_view path, const FileSummary& summary) {
      Sink([&] { sink_.FileEnds(path, summary); });
    }
    bool PumpDue() {
      return Call([&] { return pacer_.PumpDue(); });
    }
    void Pump(const RunProgress& at) {
      Call([&] { pacer_.Pump(at); });
    }
    void Progress(const RunProgress& at) {
      Call([&] { pacer_.Progress(at); });
    }
    bool StopRequested() {
      return Call([&] { return pacer_.StopRequested(); });
    }
    SearchOptions Options(const SearchOptions& now) {
      return Call([&] { return pacer_.Options(now); });
    }
    bool ListingGoesOn() {
      return Call([&] { return pacer_.ListingGoesOn(); });
    }
    bool Threw() const { return threw_; }
    bool Ended() const { return ended_; }
    void Reset() { ended_ = false; }
  };

  std::string directory_;
  std::string mask_;
  bool recursive_;
  SearchOptions options_;
  Calls calls_;
  bool lineByLine_ = false;
  size_t blockSize_ = size_t{1} << 20;
  unsigned threads_ = 0;
  int yieldBy_ = 0;
  size_t listAhead_ = 0;
  ListingOptions listing_;
  unsigned workers_ = 1;  // the threads of this run, fitted to the descriptors free
  SinkWants wants_;

  FolderCache folders_;
  std::shared_ptr<const LineMatcher> matcher_;
  std::optional<SearchOptions> pendingOptions_;  // read at a pump, used from the next line
  FileScan* scan_ = nullptr;                     // the file scan under way on this thread
  std::unique_ptr<SearchPool> pool_;
  size_t forwarded_ = 0;  // entries the pool has been told of
  // The file searched on this thread, and the spare that tries the next file, so a failed
  // open leaves reader_ intact; they change places by their pointers, as a reader is large.
  FileReader readers_[2];
  FileReader* reader_ = &readers_[0];
  FileReader* spare_ = &readers_[1];

  // Where the run is: the file last opened and the line it is at.
  std::string path_;
  std::optional<std::string> entry_;
  bool fileDone_ = false;
  long long fileSize_ = 0;
  size_t lineBase_ = 0;  // line by line: index of the current block's first line
  // Line by line: the context kept and told, as a naive search keeps it.
  struct Naive {
    std::deque<std::pair<size_t, std::string>> recent;
    size_t toldTo = 0;
    size_t after = 0;
    size_t hits = 0;
    bool told = false;
    bool draining = false;
    std::vector<MatchRange> ranges;
  } naive_;
  size_t currentLine_ = 0;
  std::optional<size_t> fileLines_;
  // Lines reported but not yet handed to the sink; they view path_ and the findings.
  std::vector<SearchHit> hits_;
  bool fileBegun_ = false;  // the sink was told that path_ begins
  FileSummary summary_;
  size_t unsearched_ = 0;  // lines the pattern needed too much work for
};

}  // namespace vorn
