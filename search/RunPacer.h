// How a search run is paced: where it may pump the caller's events, whether it is to stop,
// and the options from the next line on. The window paces its runs; vorn-find needs none.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "LineMatcher.h"

namespace vorn {

// Where the run is: the file-list entry and path of the file last opened (empty before the
// first), its size, the 0-based line under way, and the file's line count where the run
// knows it without counting (it read the file to its end).
struct RunProgress {
  std::string_view entry;
  std::string_view path;
  long long size = 0;
  size_t line = 0;
  std::optional<size_t> lines;
  bool fileDone = false;  // the run is past the file's last line
  bool opened = false;    // a file has been opened since the last report: entry is new
};

class RunPacer {
 public:
  virtual ~RunPacer() = default;
  // Asked at every point where the run may pump events; the caller's clock answers. Only
  // after a true answer does the run call Pump() and read StopRequested() and Options()
  // (changed options count from the next line).
  virtual bool PumpDue() { return false; }
  virtual void Pump(const RunProgress& at) { (void)at; }
  // Line by line, the run also reports each file it opens and every 50th line, pump or not.
  virtual void Progress(const RunProgress& at) { (void)at; }
  virtual bool StopRequested() { return false; }
  // The options from the next line on, given those in force.
  virtual SearchOptions Options(const SearchOptions& now) { return now; }
  // Asked after a due pump while the run waits for the tree's listing; false abandons the
  // listing and the run (the program is closing).
  virtual bool ListingGoesOn() { return true; }
};

}  // namespace vorn
