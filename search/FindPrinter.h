// vorn-find's output: the result lines on standard output, at a terminal each one as it is
// found and made safe to show, to a pipe or file in large blocks, byte for byte. Besides the
// result lines (with context lines around them, or only their matches) it prints per-file
// counts, the names of the files with or without a hit, the lines editors read
// ("PATH:LINE:COLUMN:TEXT") or a JSON stream, coloured as grep colours its output when asked.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "LineMatcher.h"
#include "LineSeeker.h"
#include "ResultsSink.h"
#include "SearchRun.h"

namespace vorn {

// At a terminal, control characters would let a file's bytes drive the terminal: they are
// written as "\xHH".
void AppendForTerminal(std::string& out, std::string_view line);

enum class FindOutput {
  Lines,         // "path (line)  :  text", the window's result lines
  Count,         // "path:N" for each file with a hit
  Files,         // the path of each file with a hit
  FilesWithout,  // the path of each file searched without a hit
  Vimgrep,       // "path:line:column:text", line and column 1-based
  Json,          // one JSON object per line for each file's findings, then a summary
  Quiet,         // nothing: the first hit ends the run
};

// The select graphic rendition of each coloured part, as GREP_COLORS names them; an empty one
// leaves its part plain.
struct FindColors {
  std::string match = "01;31";   // ms (mt sets it too)
  std::string path = "35";       // fn
  std::string line = "32";       // ln, also the column
  std::string separator = "36";  // se
  bool eraseLine = true;         // "\33[K" after each sequence; "ne" turns it off

  // The defaults, changed by the capabilities a GREP_COLORS value sets ("ms=01;32:fn=34:ne").
  // Only digits and ";" are taken as a value, so the variable cannot put other bytes into the
  // output; unknown or malformed entries are passed over.
  static FindColors FromGrepColors(const char* setting);
};

struct FindStyle {
  FindOutput output = FindOutput::Lines;
  bool terminal = false;             // at a terminal: line by line, control bytes escaped
  std::optional<FindColors> colors;  // coloured output
  bool messages = true;              // tell of files and folders that cannot be read
  size_t before = 0, after = 0;      // context lines, for result lines and JSON
  bool onlyMatching = false;         // each match on its own line
  size_t maxCount = 0;               // hit lines per file; 0: no limit
  bool nulAfterPath = false;         // a NUL after each path of the counts and file names
};

// A failed write stops the run. A binary file's hit lines print nothing; the first of them says
// "vorn-find: PATH: binary file matches" on standard error. A file or folder that could not be
// read is told there too, unless the messages are dropped; either way the run ends as failed.
class FindPrinter : public ResultsSink {
 public:
  FindPrinter(const SearchOptions& options, FindStyle style);

  // Context only where lines are printed; the file names and quiet need a file's first hit
  // only, and the counts as many hit lines as -m allows.
  SinkWants Wants() override;
  void FileBegins(std::string_view path) override;
  void Lines(std::span<const SearchHit> lines) override;
  void FileError(std::string_view path, int error) override;
  // Said on standard error at once, with the line index as result lines show it.
  void Unsearched(std::string_view path, size_t lineIndex) override;
  void FileEnds(std::string_view path, const FileSummary& summary) override;
  // A failed write ends the run, and so does quiet's first hit.
  bool MoreWanted() override { return !failed_ && !(style_.output == FindOutput::Quiet && found_); }

  // Prints what waits for the end of the run (JSON's summary) and writes out the rest.
  // False, with errno set, once a write has failed.
  bool Flush();
  // Some line was found; for the files without a hit, some file was listed.
  bool Found() const { return style_.output == FindOutput::FilesWithout ? listed_ : found_; }
  // Some file or folder could not be read.
  bool Missed() const { return missed_; }
  bool AnyUnsearched() const { return unsearched_; }

 private:
  using Part = const std::string FindColors::*;
  void Hit(const SearchHit& hit);
  void Tally(const SearchHit& hit);
  void Vimgrep(const SearchHit& hit);
  void BeginJson(std::string_view path);
  void Json(const SearchHit& hit);
  void AppendNumber(size_t n);
  void ResultLine(const SearchHit& hit, std::string_view separator, size_t begin, size_t end);
  void PathEnd(char plain);
  void Write();
  // text[begin, end), escaped at a terminal as a piece of the whole text.
  void Text(std::string_view text, size_t begin, size_t end);
  // A coloured part begins and ends with its sequence; a null part is never coloured.
  bool Colors(Part part) const;
  void Open(Part part);
  void Close(Part part);
  void Colored(Part part, std::string_view text);
  void Number(Part part, size_t n);
  LineMatch FirstMatch(const SearchHit& hit) const;
  // The hit's matches in its shown text: the engine's ranges, or its first match.
  std::span<const MatchRange> ShownMatches(const SearchHit& hit);
  void LineText(std::string_view text, size_t begin, size_t end,
                std::span<const MatchRange> marked);
  void Tell(std::string_view path, std::string_view what);

  static constexpr size_t kFlushAt = size_t{1} << 20;
  LineMatcher matcher_;
  LineSeeker seeker_{matcher_};  // the column of a hit beyond a long line's shown bytes
  FindStyle style_;
  std::string out_;
  std::string line_;  // at a terminal: the line before it is made safe
  std::string file_;  // the file under way
  size_t fileHits_ = 0;
  size_t fileMatches_ = 0;
  bool fileBinary_ = false;
  std::string failedPath_;        // the file or folder last told of as unreadable
  bool groupsSeparated_ = false;  // context: "--" goes before the next line printed
  bool printedLines_ = false;     // context: some group has been printed
  bool jsonBegun_ = false;        // the file's begin object is out
  size_t files_ = 0, hitLines_ = 0, matches_ = 0;  // the run's, for JSON's summary
  std::chrono::steady_clock::time_point start_;
  MatchRange first_;  // a hit's first match when the engine gave no ranges
  bool errorsToTerminal_;
  std::string binaryPath_;  // the binary file last told of
  bool found_ = false;
  bool listed_ = false;
  bool missed_ = false;
  bool unsearched_ = false;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace vorn
