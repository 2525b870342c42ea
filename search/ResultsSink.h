// What a search run finds, as one ordered stream: for every file searched its beginning and
// end, its hit lines with every match's byte range, the context lines asked for around them,
// and what could not be searched. The main window's result list, vorn-find's printer and the
// replace all read this one stream; how a run is paced (pumps, stop) is a RunPacer's business.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "SearchHit.h"

namespace vorn {

class HitShelf;

// Per file: how many hit lines and matches it gave, and whether it was found binary.
struct FileSummary {
  size_t hitLines = 0;
  size_t matches = 0;
  bool binary = false;
};

// What the sink needs of the run; asked once, when the run starts.
struct SinkWants {
  size_t before = 0;  // context lines before each hit line
  size_t after = 0;   // context lines after each hit line
  // A file is left after this many hit lines (and the context after the last); 0: never.
  size_t maxHitLines = 0;
  // A binary file is left at its first hit (the sink tells of such a file by its name only).
  bool restOfBinaryFile = true;
  // Every match's range in each hit line; off, hits carry none and cost nothing for them.
  bool ranges = true;
  // FileBegins and FileEnds for every file searched, also those without a hit; off, they
  // come only around the findings of files with some.
  bool everyFile = false;
  // Where the threads that find hit lines keep them for a sink that holds on to them all;
  // none: each hit's bytes are the run's, for the call only.
  std::shared_ptr<HitShelf> shelf = nullptr;
};

// Every call comes on the thread that runs the search, whatever the number of threads, in the
// order a single-threaded run gives. Lines views the run's bytes for the call only.
class ResultsSink {
 public:
  virtual ~ResultsSink() = default;
  virtual SinkWants Wants() { return {}; }
  virtual void FileBegins(std::string_view path) { (void)path; }
  // Hit lines, context lines and the breaks between context groups, in file order; a batch
  // at a time, always before the file's end and before any pump that follows them.
  virtual void Lines(std::span<const SearchHit> lines) = 0;
  // The line (0-based) could not be searched: the regular expression needs too much work, or
  // the line is longer than a pattern is searched in whole.
  virtual void Unsearched(std::string_view path, size_t lineIndex) {
    (void)path;
    (void)lineIndex;
  }
  // A file or folder that could not be opened or read, with the system's error number; the
  // run goes on without it, keeping what was found in it before the failure.
  virtual void FileError(std::string_view path, int error) {
    (void)path;
    (void)error;
  }
  virtual void FileEnds(std::string_view path, const FileSummary& summary) {
    (void)path;
    (void)summary;
  }
  // Asked after every call above: false ends the run at once (a write failed, or the first
  // hit is all that was asked for); Run then returns SearchEnd::Ended.
  virtual bool MoreWanted() { return true; }
};

}  // namespace vorn
