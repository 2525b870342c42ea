// vorn-find's output: the result lines on standard output, at a terminal each one as it is
// found and made safe to show, to a pipe or file in large blocks, byte for byte. Besides the
// result lines it prints per-file counts, the names of the files with a hit, or the lines
// editors read ("PATH:LINE:COLUMN:TEXT"), coloured as grep colours its output when asked.
#pragma once

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

// Writes all of data to fd, going on after partial writes and interrupts.
bool WriteAll(int fd, std::string_view data);

enum class FindOutput {
  Lines,    // "path (line)  :  text", the window's result lines
  Count,    // "path:N" for each file with a hit
  Files,    // the path of each file with a hit
  Vimgrep,  // "path:line:column:text", line and column 1-based
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
};

// A failed write ends the run. A binary file's hit lines print nothing; the first of them says
// "vorn-find: PATH: binary file matches" on standard error. A file or folder that could not be
// read is told there too, unless the messages are dropped; either way the run ends as failed.
class FindPrinter : public ResultsSink {
 public:
  FindPrinter(const SearchOptions& options, FindStyle style);

  // The names of the files with a hit need only each file's first hit; lines and vimgrep
  // output name a binary file once, at its first hit.
  SinkWants Wants() override;
  void Lines(std::span<const SearchHit> lines) override;
  void FileError(std::string_view path, int error) override;
  // Said on standard error at once, with the line index as result lines show it.
  void Unsearched(std::string_view path, size_t lineIndex) override;
  // After a failed write the run ends.
  bool MoreWanted() override { return !failed_; }

  // Prints what waits for the end of the run (the last file's count) and writes out the rest.
  // False, with errno set, once a write has failed.
  bool Flush();
  bool Found() const { return found_; }
  // Some file or folder could not be read.
  bool Missed() const { return missed_; }
  bool AnyUnsearched() const { return unsearched_; }

 private:
  using Part = const std::string FindColors::*;
  void Hit(const SearchHit& hit);
  void EndFile();
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
  void LineText(std::string_view text, LineMatch match);
  void Tell(std::string_view path, std::string_view what);

  static constexpr size_t kFlushAt = size_t{1} << 20;
  LineMatcher matcher_;
  LineSeeker seeker_{matcher_};  // the column of a hit beyond a long line's shown bytes
  FindStyle style_;
  std::string out_;
  std::string line_;  // at a terminal: the line before it is made safe
  std::string file_;  // the file whose hits are being counted
  size_t fileHits_ = 0;
  bool errorsToTerminal_;
  std::string binaryPath_;  // the binary file last told of
  bool found_ = false;
  bool missed_ = false;
  bool unsearched_ = false;
  bool failed_ = false;
  int error_ = 0;
};

}  // namespace vorn
