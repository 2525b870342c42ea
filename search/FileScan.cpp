#include "FileScan.h"

#include <algorithm>
#include <cstring>

#include "LineBreaks.h"
#include "txthandling.h"

namespace vorn {

namespace {

// The start of the line that holds p; p inside a CR LF pair belongs to the line after it.
const char* LineStartAt(const char* lineFloor, const char* p, const char* end) {
  if (p > lineFloor && p < end && p[-1] == '\r' && *p == '\n') ++p;
  const char* last = FindLastBreak(lineFloor, p);
  return last ? last + 1 : lineFloor;
}

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

FileScan::End FileScan::Run(FileReader& reader, std::shared_ptr<const LineMatcher> matcher,
                            size_t firstLine) {
  reader_ = &reader;
  matcher_ = std::move(matcher);
  next_.reset();
  line_ = 0;
  firstLine_ = firstLine;
  openLine_ = long_ = false;
  enough_ = false;
  counted_ = true;
  reader.SetOverlap(matcher_->Overlap());
  std::string_view block;
  while (reader.NextBlock(block))
    if (!Block(block, reader.Carried(), reader.Partial()))
      return enough_ ? End::Enough : End::Stopped;
  if (reader.Failed()) return End::Failed;
  if (long_ && !LongPiece({}, 0, true)) return enough_ ? End::Enough : End::Stopped;
  return End::Done;
}

void FileScan::Switch() {
  matcher_ = std::move(next_);
  next_.reset();
  reader_->SetOverlap(std::max(matcher_->Overlap(), reader_->Overlap()));
}

bool FileScan::Block(std::string_view block, size_t carried, bool partial) {
  const char* const b = block.data();
  const char* const e = b + block.size();
  const char* cursor = b + carried;
  const bool fresh = e > cursor;
  if (long_) {
    const char* brk = FindNextBreak(cursor, e);
    // A block that is not a piece ends the line at its first break, or at the file's end.
    if (!LongPiece(std::string_view(b, static_cast<size_t>(brk - b)), carried, brk < e || !partial))
      return false;
    if (brk == e) {
      openLine_ = true;
      return true;
    }
    cursor = SkipBreak(brk, e);
    ++line_;
  }
  const char* regionEnd = e;
  if (partial) {
    const char* last = FindLastBreak(cursor, e);
    regionEnd = last ? last + 1 : cursor;
  }
  const std::string_view region(b, static_cast<size_t>(regionEnd - b));
  while (line_ < firstLine_ && cursor < regionEnd) {
    const char* brk = FindNextBreak(cursor, regionEnd);
    if (brk == regionEnd) {
      cursor = regionEnd;
      break;
    }
    cursor = SkipBreak(brk, regionEnd);
    ++line_;
  }
  if (line_ < firstLine_) {
    // The lines skipped on the way to the first one searched are a stretch like any other.
    if (!hooks_.Passed(line_)) return false;
    // Options changed there count from the next line searched, which begins at the cursor.
    if (next_) Switch();
  }
  // Nothing needs the lines after the last candidate of the file.
  if (!Lines(region, cursor, partial || !reader_->AtEnd())) return false;
  if (partial) {
    long_ = true;
    longDecide_ = line_ >= firstLine_;
    longFirst_ = true;
    longFound_ = longInk_ = longNul_ = longTooMuch_ = false;
    shown_.clear();
    if (!LongPiece(std::string_view(regionEnd, static_cast<size_t>(e - regionEnd)), 0, false))
      return false;
  }
  openLine_ = partial || (fresh && !IsBreakByte(e[-1]));
  return true;
}

// The complete lines of region from cursor on.
bool FileScan::Lines(std::string_view region, const char*& cursor, bool countRest) {
  const char* const b = region.data();
  const char* const e = b + region.size();
  size_t scan = static_cast<size_t>(cursor - b);
  size_t passedAt = scan;
  // A pattern without a literal scans the lines for its next match, which stays known until
  // the scan passes it; after a scan that needed too much work, every line is a candidate.
  size_t candidate = 0;
  bool candidateKnown = false;
  bool everyLine = false;
  bool ascii = false, asciiKnown = false;
  while (cursor < e) {
    const LineMatcher& matcher = *matcher_;
    const PatternScanner& scanner = matcher.Scanner();
    const size_t windowEnd = std::min(region.size(), scan + kStretch);
    size_t found = PatternScanner::npos;
    if (matcher.EveryLine()) {
      const RegexMatcher& regex = *matcher.Regex();
      if (!everyLine && regex.ScansLines() && (!candidateKnown || candidate < scan)) {
        if (!asciiKnown) {
          ascii = IsAscii(region);
          asciiKnown = true;
        }
        candidateKnown = regex.NextCandidate(region, scan, ascii, &candidate);
        everyLine = !candidateKnown;
      }
      if (everyLine || !regex.ScansLines())
        found = scan < windowEnd ? scan : PatternScanner::npos;
      else if (candidate < windowEnd)
        found = candidate;
    } else if (!matcher.NeverHits()) {
      const size_t hayEnd = std::min(region.size(), windowEnd + scanner.size() - 1);
      found = scanner.Find(region.substr(0, hayEnd), scan);
      if (found >= windowEnd) found = PatternScanner::npos;
    }
    if (found == PatternScanner::npos) {
      if (windowEnd == region.size()) break;
      scan = passedAt = windowEnd;
      const char* lineStart = LineStartAt(cursor, b + scan, e);
      line_ += CountBreaks(cursor, lineStart);
      cursor = lineStart;
      if (!hooks_.Passed(line_)) return false;
      if (next_) {
        // The line under way is decided with the matcher it began with.
        bool goOn = true;
        cursor = FinishLine(cursor, e, goOn);
        if (!goOn) return false;
        Switch();
        candidateKnown = everyLine = false;
        scan = static_cast<size_t>(cursor - b);
      }
      continue;
    }
    const char* lineStart = LineStartAt(cursor, b + found, e);
    line_ += CountBreaks(cursor, lineStart);
    cursor = lineStart;
    bool goOn = true;
    // Any occurrence of a query with ink makes a hit, unless whole words are asked for.
    cursor = FinishLine(cursor, e, goOn, !matcher.Options().wholeWord && !matcher.BlankQuery());
    if (!goOn) return false;
    // Candidates a pattern turns down may follow each other for long: the owner still gets
    // its stretches.
    if (matcher.Regex() && static_cast<size_t>(cursor - b) >= passedAt + kStretch) {
      passedAt = static_cast<size_t>(cursor - b);
      if (!hooks_.Passed(line_)) return false;
    }
    if (next_) {
      Switch();
      candidateKnown = everyLine = false;
    }
    scan = static_cast<size_t>(cursor - b);
  }
  if (countRest)
    line_ += CountBreaks(cursor, e);
  else
    counted_ = false;
  cursor = e;
  return true;
}

std::optional<size_t> FileScan::Lines() const {
  if (!counted_) return std::nullopt;
  return line_ + (openLine_ ? 1 : 0);
}

const char* FileScan::FinishLine(const char* cursor, const char* end, bool& goOn, bool hit) {
  const char* lineEnd = FindNextBreak(cursor, end);
  const std::string_view text(cursor, static_cast<size_t>(lineEnd - cursor));
  const size_t index = line_;
  const char* next = end;
  if (lineEnd < end) {
    next = SkipBreak(lineEnd, end);
    ++line_;
  }
  if (hit) {
    goOn = TellHit(index, text.substr(0, kShownLineBytes), Binary(text));
    return next;
  }
  switch (matcher_->Decide(text)) {
    case RegexVerdict::Hit:
      goOn = TellHit(index, text.substr(0, kShownLineBytes), Binary(text));
      break;
    case RegexVerdict::TooMuchWork:
      goOn = hooks_.Unsearched(index);
      break;
    case RegexVerdict::Miss:
      break;
  }
  return next;
}

bool FileScan::TellHit(size_t index, std::string_view shown, bool binary) {
  if (!hooks_.Hit(index, shown, binary)) return false;
  enough_ = Leaves(leave_, binary);
  return !enough_;
}

// A file is binary when its head holds a NUL byte, or a hit line does; its hits are marked
// from then on. Only looked at where the matcher asks, and only at hits, so a search costs
// nothing for it. UTF-16 text is never binary.
bool FileScan::Binary(std::string_view line, bool nul) {
  return matcher_->Options().tellBinary && reader_->BinaryAt(line, nul);
}

// One piece of a long line; its first context bytes repeat the end of the piece before. The
// literal search decides it piece by piece; a pattern gathers the line and is searched in it
// whole, up to kWholeLineBytes, the memory given back when the line ends.
bool FileScan::LongPiece(std::string_view piece, size_t context, bool ends) {
  const LineMatcher& matcher = *matcher_;
  if (longDecide_) {
    const std::string_view fresh = piece.substr(context);
    if (shown_.size() < kShownLineBytes)
      shown_.append(fresh.substr(0, kShownLineBytes - shown_.size()));
    if (matcher.Regex())
      GatherLongLine(piece, fresh);
    else if (!longFound_)
      longFound_ = matcher.CountsIn(piece, longFirst_, ends);
    if (!longInk_ && matcher.BlankQuery()) longInk_ = !Trimmed(fresh).empty();
    if (!longNul_ && matcher.Options().tellBinary)
      longNul_ = std::memchr(fresh.data(), 0, fresh.size()) != nullptr;
  }
  longFirst_ = false;
  if (!ends) return hooks_.Passed(line_);
  long_ = false;
  if (longDecide_ && matcher.Regex()) {
    if (longTooLong_) {
      longTooMuch_ = longLiteral_;
    } else {
      const RegexVerdict verdict = matcher.Decide(longLine_);
      longFound_ = verdict == RegexVerdict::Hit;
      longTooMuch_ = verdict == RegexVerdict::TooMuchWork;
    }
    std::string().swap(longLine_);
  }
  if (longDecide_ && longFound_ && (longInk_ || !matcher.BlankQuery()) &&
      !TellHit(line_, shown_, Binary({}, longNul_)))
    return false;
  if (longDecide_ && !longFound_ && longTooMuch_ && longInk_ && !hooks_.Unsearched(line_))
    return false;
  if (next_) Switch();
  return true;
}

// A line longer than a pattern is searched in is not gathered on: it is left unsearched when it
// holds the pattern's literal (or the pattern has none), a miss otherwise.
void FileScan::GatherLongLine(std::string_view piece, std::string_view fresh) {
  const PatternScanner& literal = matcher_->Scanner();
  const auto holdsLiteral = [&](std::string_view text) {
    return literal.size() == 0 || literal.Find(text, 0) != PatternScanner::npos;
  };
  if (longFirst_) {
    longTooLong_ = longLiteral_ = false;
    longLine_.reserve(std::min(kWholeLineBytes, static_cast<size_t>(reader_->Size())));
  }
  if (!longTooLong_ && fresh.size() <= kWholeLineBytes - longLine_.size()) {
    longLine_.append(fresh);
    return;
  }
  if (!longTooLong_) {
    longTooLong_ = true;
    longLiteral_ = holdsLiteral(longLine_);
    std::string().swap(longLine_);
  }
  // The piece repeats the end of the one before: a literal across the cut is seen whole.
  if (!longLiteral_) longLiteral_ = holdsLiteral(piece);
}

}  // namespace vorn
