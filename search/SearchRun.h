// One search run: lists the files, reads each, decides hits line by line and reports result
// lines, status texts and pump points to a listener. No GUI here: the main window and the
// command-line front end both drive this class.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "FileReader.h"
#include "LineMatcher.h"
#include "io.h"

namespace vorn {

struct SearchHit {
  std::string_view path;        // the file's full path; the result line begins with it
  size_t lineIndex = 0;         // 0-based
  std::string_view text;        // the line as shown: at most its first 4096 bytes
  std::string_view resultLine;  // path " (" index ")  :  " text
};

class SearchListener {
 public:
  virtual ~SearchListener() = default;
  virtual void Result(const SearchHit& hit) = 0;
  virtual void Status(std::string_view text) { (void)text; }
  // Asked at every point where the run may pump events; the caller's clock answers. Only
  // after a true answer does the run show the current status, call Pump(), and read
  // StopRequested() and Options() (changed options count from the next line).
  virtual bool PumpDue() { return false; }
  virtual void Pump() {}
  virtual bool StopRequested() { return false; }
  virtual SearchOptions Options() = 0;
  // Asked once per directory while a tree is listed, after a due pump; false abandons the
  // listing and the run (the program is closing).
  virtual bool ListingGoesOn() { return true; }
};

enum class SearchEnd { Finished, Aborted };

class SearchRun {
 public:
  static constexpr size_t kShownLineBytes = 4096;

  // directory is taken as given (the caller adds the trailing separator); the listing, the
  // mask and the file list are fixed for the whole run.
  SearchRun(std::string directory, std::string mask, bool includeSubdirectories,
            SearchListener& listener);

  // Line by line: every line is a pump point and every 50th line reports its status, as a
  // naive run would; the default skips from candidate to candidate and reports the status
  // only when a pump is due. Both give the same results.
  void SetLineByLine(bool on) { lineByLine_ = on; }
  void SetBlockSize(size_t bytes) { blockSize_ = bytes; }
  void SetThreads(unsigned count) { (void)count; }

  SearchEnd Run();

 private:
  enum class Step { Go, Stop };
  Step PumpPoint(bool checkStop = true);
  Step PumpNow(bool checkStop = true);
  void ReportStatus();
  void SwitchOptionsIfChanged();
  const char* FinishLine(const char* lineStart, const char* end, size_t index);
  void Report(std::string_view line, size_t index);
  Step SearchBlockFast(std::string_view block);
  Step SearchBlockLineByLine(std::string_view block);
  size_t FileLines();

  std::string directory_;
  std::string mask_;
  bool recursive_;
  SearchListener& listener_;
  bool lineByLine_ = false;
  size_t blockSize_ = size_t{1} << 20;

  bool OpenNext(FileReader& reader);

  struct Folder {
    Folder(std::string p, int f) : path(std::move(p)), fd(f) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string path;
    int fd;
  };
  std::optional<Folder> folder_;  // the folder of the file opened last

  std::optional<LineMatcher> matcher_;
  std::optional<SearchOptions> pendingOptions_;  // read at a pump, used from the next line
  FileReader reader_;  // the file last loaded: the status speaks of it
  FileReader spare_;   // tries the next file, so a failed open leaves reader_ intact
  bool fileDone_ = false;
  std::string path_;
  const std::string* entry_ = nullptr;
  size_t lineBase_ = 0;     // index of the current block's first line
  size_t currentLine_ = 0;  // the line the run is at, for the status text
  std::optional<size_t> fileLines_;
  std::string resultLine_;
};

}  // namespace vorn
