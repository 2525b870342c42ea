// Searches the blocks of one open file for hit lines, skipping from candidate to candidate, and
// tells its owner of every hit with its matches, of the context lines asked for around hits,
// and of every stretch scanned (where a run may pump events).
// A line longer than the reader's buffer is searched whole, piece by piece; its first bytes
// are kept for display, so memory stays bounded whatever the file holds.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FileReader.h"
#include "LineMatcher.h"
#include "ResultsSink.h"

namespace vorn {

class FileScan {
 public:
  static constexpr size_t kShownLineBytes = 4096;
  // Between two Passed calls the scan covers at most this much.
  static constexpr size_t kStretch = size_t{64} << 10;
  // A pattern searches a line whole up to this long; a longer line that may hold a match is
  // unsearched.
  static constexpr size_t kWholeLineBytes = size_t{64} << 20;

  class Hooks {
   public:
    virtual ~Hooks() = default;
    // The line index is a hit; shown is its first kShownLineBytes bytes. binary: the matcher
    // asks to tell binary files and this one is (a NUL byte in its head or in a hit line so
    // far). matches: every match in the line, when ranges are wanted. False stops the scan.
    virtual bool Hit(size_t index, std::string_view shown, bool binary,
                     std::span<const MatchRange> matches) = 0;
    // A line asked for around hits; shown as for Hit.
    virtual bool Context(size_t index, std::string_view shown) = 0;
    // The context lines that follow are not next to the lines told before them.
    virtual bool Break() = 0;
    // A stretch scanned; index is the line under way. False stops the scan.
    virtual bool Passed(size_t index) = 0;
    // The line index could not be decided: the pattern needs too much work for it. False
    // stops the scan.
    virtual bool Unsearched(size_t index) = 0;
  };

  // Enough: the scan left the file after the hits it was asked for.
  enum class End { Done, Stopped, Failed, Enough };
  // How long a file's encoding may stay undecided, from the strictest: not at all; while the
  // bytes searched are ASCII; until the first candidate.
  enum class Wait { No, WhileAscii, ToCandidate };

  explicit FileScan(Hooks& hooks) : hooks_(hooks) {}

  // Searches the reader's blocks with matcher; lines before firstLine are only counted.
  End Run(FileReader& reader, std::shared_ptr<const LineMatcher> matcher, size_t firstLine = 0);

  // The context, the hit lines a file is left after, and whether matches are wanted.
  void SetWants(const SinkWants& wants) { wants_ = wants; }

  // From a hook: the lines after the one under way are decided by matcher.
  void SwitchMatcher(std::shared_ptr<const LineMatcher> matcher) { next_ = std::move(matcher); }

  // After Done: the number of lines of the file, when the scan had to count them all (the
  // lines after the last candidate of the file's last block are not counted).
  std::optional<size_t> Lines() const;

 private:
  // One pass over the file: lines before from are only counted, and lines before firstTold
  // are not told as context.
  End Pass(size_t from, size_t firstTold);
  // At a candidate in line: the reader decides the file's encoding if it waited; false when
  // the file is to be searched again from the start, decoded.
  bool Settle(size_t line);
  bool Block(std::string_view block, size_t carried, bool partial);
  bool Lines(std::string_view region, const char*& cursor, bool countRest);
  // Decides the line at cursor (hit: a candidate in it is known to count) and returns the
  // start of the next one. first: the line's first occurrence, where the scan found it.
  const char* FinishLine(const char* cursor, const char* end, bool& goOn, bool hit = false,
                         const MatchRange* first = nullptr);
  bool LongPiece(std::string_view piece, size_t context, bool ends);
  void GatherLongLine(std::string_view piece, std::string_view fresh);
  // The new matcher takes over; false as for Settle.
  bool Switch();
  // Whether the hit line (holding a NUL byte where nul) makes or finds the file binary.
  bool Binary(std::string_view line, bool nul = false);
  // Tells the owner of a hit (after the context before it); false when the scan ends here.
  // line: the whole line, or for a long line as much as decides the matches that begin in its
  // shown bytes; lineStart: where it begins in the block, or null for a long line, whose
  // context before lies in the tail; first: the line's first match when the scan knows it, so
  // the line is searched for the others only.
  bool TellHit(size_t index, std::string_view shown, bool binary, std::string_view line,
               const char* lineStart, const MatchRange* first = nullptr);
  bool TellBefore(size_t index, const char* lineStart);
  bool TellContext(size_t index, std::string_view shown);
  // After a hit: the next line, a hit or context; returns the start of the one after it.
  const char* AfterLine(const char* cursor, const char* end, bool& goOn);
  // The last context-before lines of the region scanned, kept for hits in the next block.
  void KeepTail(const char* regionEnd);

  Hooks& hooks_;
  FileReader* reader_ = nullptr;
  Wait wait_ = Wait::No;
  std::shared_ptr<const LineMatcher> matcher_, next_;
  size_t line_ = 0;  // index of the first line not yet passed
  size_t firstLine_ = 0;
  bool openLine_ = false;  // bytes after the last break
  bool counted_ = true;    // line_ counts every break passed
  // The long line under way, when the last block ended inside it.
  bool long_ = false;
  bool longDecide_ = false;
  bool longFirst_ = false;
  bool longFound_ = false;
  bool longInk_ = false;
  bool longNul_ = false;
  SinkWants wants_;
  bool enough_ = false;   // the scan ended after the hits wanted
  bool restart_ = false;  // the file is searched again from line restartAt_, decoded
  size_t restartAt_ = 0;
  // Context: lines below emittedTo_ have been told (or are not to be); afterLeft_ lines after
  // the last hit are still to be told; draining_: the hits wanted are told, only the context
  // after the last one remains.
  size_t hits_ = 0;
  size_t emittedTo_ = 0;
  size_t afterLeft_ = 0;
  bool draining_ = false;
  bool anyTold_ = false;
  // The first whole line of the block under way, and its index.
  const char* floor_ = nullptr;
  size_t floorLine_ = 0;
  std::vector<std::pair<size_t, std::string>> tail_;  // the lines before floor_, shown
  std::vector<MatchRange> ranges_;
  bool longTooMuch_ = false;
  std::string shown_;  // a long line's shown bytes and the few after them
  // A pattern's long line, gathered whole; or, past kWholeLineBytes, whether it holds the
  // pattern's literal.
  std::string longLine_;
  bool longTooLong_ = false;
  bool longLiteral_ = false;
};

}  // namespace vorn
