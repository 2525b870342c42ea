#include "FileScan.h"

#include <algorithm>
#include <cstring>

#include "LineBreaks.h"
#include "TextDecoding.h"
#include "txthandling.h"

namespace vorn {

namespace {

// The start of the line that holds p; p inside a CR LF pair belongs to the line after it.
const char* LineStartAt(const char* lineFloor, const char* p, const char* end) {
  if (p > lineFloor && p < end && p[-1] == '\r' && *p == '\n') ++p;
  const char* last = FindLastBreak(lineFloor, p);
  return last ? last + 1 : lineFloor;
}

bool IsAscii(std::string_view text) { return NextHighByte(text, 0) == text.size(); }

// How long a file's encoding may wait. In every encoding the detector names, an ASCII
// character is its ASCII byte, and no other bytes decode to one; so text decoded holds an
// ASCII query only where the bytes hold it, and a file without a candidate has no hit
// whatever its encoding: the encoding waits for the first candidate. Ignoring case, k and s
// are also matched by characters beyond ASCII (KELVIN SIGN, LONG S), which GB18030 has: the
// encoding then waits only as long as the bytes searched are ASCII, which the literal
// search's filter sees as it goes.
FileScan::Wait EncodingWait(const SearchOptions& o) {
  if (o.regex || o.encoding != kEncodingAuto) return FileScan::Wait::No;
  FileScan::Wait wait = FileScan::Wait::ToCandidate;
  for (const char c : o.query) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80) return FileScan::Wait::No;
    if (!o.matchCase && ((b | 0x20) == 'k' || (b | 0x20) == 's')) wait = FileScan::Wait::WhileAscii;
  }
  return wait;
}

// Whether text[from, to) is all ASCII, where the filter found span so.
bool AsciiBut(std::string_view text, size_t from, size_t to, PatternScanner::AsciiSpan span) {
  const size_t begin = std::clamp(span.begin, from, to);
  const size_t end = std::clamp(span.end, begin, to);
  return IsAscii(text.substr(from, begin - from)) && IsAscii(text.substr(end, to - end));
}

}  // namespace

FileScan::End FileScan::Run(FileReader& reader, std::shared_ptr<const LineMatcher> matcher,
                            size_t firstLine) {
  reader_ = &reader;
  matcher_ = std::move(matcher);
  next_.reset();
  wait_ = EncodingWait(matcher_->Options());
  if (wait_ != Wait::No) reader.LetEncodingWait();
  // A file found in a legacy encoding at its first candidate is read again, decoded: the
  // lines before that candidate held no candidate, so the second pass only counts them.
  for (size_t from = firstLine;;) {
    restart_ = false;
    const End end = Pass(from, firstLine);
    if (!restart_) return end;
    from = restartAt_;
  }
}

FileScan::End FileScan::Pass(size_t from, size_t firstTold) {
  FileReader& reader = *reader_;
  line_ = 0;
  firstLine_ = from;
  openLine_ = long_ = false;
  enough_ = false;
  counted_ = true;
  hits_ = afterLeft_ = 0;
  emittedTo_ = firstTold;
  draining_ = anyTold_ = false;
  tail_.clear();
  floor_ = nullptr;
  reader.SetOverlap(matcher_->Overlap());
  std::string_view block;
  while (reader.NextBlock(block))
    if (!Block(block, reader.Carried(), reader.Partial()))
      return enough_ ? End::Enough : End::Stopped;
  if (reader.Failed()) return End::Failed;
  if (long_ && !LongPiece({}, 0, true)) return enough_ ? End::Enough : End::Stopped;
  return End::Done;
}

bool FileScan::Settle(size_t line) {
  if (!reader_->EncodingWaits() || !reader_->SettleEncoding()) return true;
  restart_ = true;
  restartAt_ = line;
  return false;
}

bool FileScan::Switch() {
  matcher_ = std::move(next_);
  next_.reset();
  reader_->SetOverlap(std::max(matcher_->Overlap(), reader_->Overlap()));
  // The lines from here on are decided by the new options, which may not let it wait.
  wait_ = std::min(wait_, EncodingWait(matcher_->Options()));
  return wait_ != Wait::No || Settle(line_);
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
  floor_ = cursor;
  floorLine_ = line_;
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
    if (next_ && !Switch()) return false;
  }
  // Nothing needs the lines after the last candidate of the file.
  if (!Lines(region, cursor, partial || !reader_->AtEnd())) return false;
  if (wants_.before > 0 && counted_) KeepTail(regionEnd);
  if (partial) {
    // A long line is decided piece by piece, by the text it is.
    if (line_ >= firstLine_ && !Settle(line_)) return false;
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
  size_t foundLength = 0;
  while (cursor < e) {
    if (afterLeft_ > 0) {
      bool goOn = true;
      cursor = AfterLine(cursor, e, goOn);
      if (!goOn) return false;
      if (next_) {
        if (!Switch()) return false;
        candidateKnown = everyLine = false;
      }
      scan = static_cast<size_t>(cursor - b);
      continue;
    }
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
      const bool watch = wait_ == Wait::WhileAscii && reader_->EncodingWaits();
      PatternScanner::AsciiSpan ascii;
      found = scanner.Find(region.substr(0, hayEnd), scan, foundLength, watch ? &ascii : nullptr);
      if (found >= windowEnd) found = PatternScanner::npos;
      // Bytes beyond ASCII settle the encoding from the line they are in on.
      if (found == PatternScanner::npos && watch && !AsciiBut(region, scan, windowEnd, ascii) &&
          !Settle(line_))
        return false;
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
        if (!Switch()) return false;
        candidateKnown = everyLine = false;
        scan = static_cast<size_t>(cursor - b);
      }
      continue;
    }
    const char* lineStart = LineStartAt(cursor, b + found, e);
    line_ += CountBreaks(cursor, lineStart);
    cursor = lineStart;
    if (!Settle(line_)) return false;
    bool goOn = true;
    // Any occurrence of a query with ink makes a hit, unless whole words are asked for. The
    // scan began at or before the line's start, so the occurrence is the line's first.
    const bool hit = !matcher.Regex() && !matcher.Options().wholeWord && !matcher.BlankQuery();
    const auto at = static_cast<size_t>(b + found - cursor);
    const MatchRange first{at, at + foundLength};
    cursor = FinishLine(cursor, e, goOn, hit, hit ? &first : nullptr);
    if (!goOn) return false;
    // Candidates a pattern turns down may follow each other for long: the owner still gets
    // its stretches.
    if (matcher.Regex() && static_cast<size_t>(cursor - b) >= passedAt + kStretch) {
      passedAt = static_cast<size_t>(cursor - b);
      if (!hooks_.Passed(line_)) return false;
    }
    if (next_) {
      if (!Switch()) return false;
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

const char* FileScan::FinishLine(const char* cursor, const char* end, bool& goOn, bool hit,
                                 const MatchRange* first) {
  const char* lineEnd = FindNextBreak(cursor, end);
  const std::string_view text(cursor, static_cast<size_t>(lineEnd - cursor));
  const size_t index = line_;
  const char* next = end;
  if (lineEnd < end) {
    next = SkipBreak(lineEnd, end);
    ++line_;
  }
  if (hit) {
    goOn = TellHit(index, text.substr(0, kShownLineBytes), Binary(text), text, cursor, first);
    return next;
  }
  switch (matcher_->Decide(text)) {
    case RegexVerdict::Hit:
      goOn = TellHit(index, text.substr(0, kShownLineBytes), Binary(text), text, cursor);
      break;
    case RegexVerdict::TooMuchWork:
      goOn = hooks_.Unsearched(index);
      break;
    case RegexVerdict::Miss:
      break;
  }
  return next;
}

bool FileScan::TellHit(size_t index, std::string_view shown, bool binary, std::string_view line,
                       const char* lineStart, const MatchRange* first) {
  if (!TellBefore(index, lineStart)) return false;
  ranges_.clear();
  // The matches are those that begin in the shown bytes, however many follow, so a line
  // gives the same whatever the blocks cut of it.
  if (wants_.ranges && !first) {
    matcher_->Matches(line, ranges_, kShownLineBytes);
  } else if (wants_.ranges && first->begin < kShownLineBytes) {
    ranges_.push_back(*first);
    matcher_->Matches(line, ranges_, kShownLineBytes,
                      first->begin + std::max<size_t>(first->end - first->begin, 1));
  }
  if (!hooks_.Hit(index, shown, binary, ranges_)) return false;
  anyTold_ = true;
  emittedTo_ = index + 1;
  ++hits_;
  if (binary && !wants_.restOfBinaryFile) {
    enough_ = true;  // such a file is told of by its name only
  } else if (wants_.maxHitLines != 0 && hits_ >= wants_.maxHitLines) {
    draining_ = true;
    enough_ = wants_.after == 0;
  }
  afterLeft_ = enough_ ? 0 : wants_.after;
  return !enough_;
}

bool FileScan::TellContext(size_t index, std::string_view shown) {
  if (!hooks_.Context(index, shown.substr(0, kShownLineBytes))) return false;
  anyTold_ = true;
  emittedTo_ = index + 1;
  return true;
}

// The lines before a hit, down to the last one told: those of the block found by walking back
// from the hit's start, the older ones from the tail.
bool FileScan::TellBefore(size_t index, const char* lineStart) {
  const size_t want = wants_.before;
  const size_t from = std::max(index > want ? index - want : 0, emittedTo_);
  // Groups are told apart only where context is asked for.
  const bool context = want > 0 || wants_.after > 0;
  if (context && anyTold_ && from > emittedTo_ && !hooks_.Break()) return false;
  if (from >= index) return true;
  std::string_view inBlock[64];
  size_t found = 0;
  std::vector<std::string_view> more;  // only for a context of over 64 lines
  size_t k = index;
  for (const char* p = lineStart; p && p > floor_ && k > from; --k) {
    const char* lineEnd = p - 1;
    if (*lineEnd == '\n' && lineEnd > floor_ && lineEnd[-1] == '\r') --lineEnd;
    const char* last = FindLastBreak(floor_, lineEnd);
    const char* start = last ? last + 1 : floor_;
    const std::string_view text(start, static_cast<size_t>(lineEnd - start));
    if (found < 64)
      inBlock[found++] = text;
    else
      more.push_back(text);
    p = start;
  }
  for (const auto& [i, text] : tail_)
    if (i >= from && i < k && !TellContext(i, text)) return false;
  for (size_t j = more.size(); j-- > 0;)
    if (!TellContext(k++, more[j])) return false;
  for (size_t j = found; j-- > 0;)
    if (!TellContext(k++, inBlock[j])) return false;
  return true;
}

const char* FileScan::AfterLine(const char* cursor, const char* end, bool& goOn) {
  const char* lineEnd = FindNextBreak(cursor, end);
  const std::string_view text(cursor, static_cast<size_t>(lineEnd - cursor));
  const size_t index = line_;
  const char* next = end;
  if (lineEnd < end) {
    next = SkipBreak(lineEnd, end);
    ++line_;
  }
  if (!draining_) {
    const RegexVerdict verdict = matcher_->Decide(text);
    if (verdict == RegexVerdict::Hit) {
      goOn = TellHit(index, text.substr(0, kShownLineBytes), Binary(text), text, cursor);
      return next;
    }
    if (verdict == RegexVerdict::TooMuchWork && !hooks_.Unsearched(index)) {
      goOn = false;
      return next;
    }
  }
  goOn = TellContext(index, text);
  --afterLeft_;
  if (goOn && draining_ && afterLeft_ == 0) {
    enough_ = true;
    goOn = false;
  }
  return next;
}

void FileScan::KeepTail(const char* regionEnd) {
  const size_t want = wants_.before;
  if (regionEnd <= floor_ || !IsBreakByte(regionEnd[-1])) return;
  std::vector<std::pair<size_t, std::string>> fresh;
  size_t k = line_;
  for (const char* p = regionEnd; p > floor_ && fresh.size() < want;) {
    const char* lineEnd = p - 1;
    if (*lineEnd == '\n' && lineEnd > floor_ && lineEnd[-1] == '\r') --lineEnd;
    const char* last = FindLastBreak(floor_, lineEnd);
    const char* start = last ? last + 1 : floor_;
    fresh.emplace_back(--k, std::string(start, std::min<size_t>(lineEnd - start, kShownLineBytes)));
    p = start;
  }
  const size_t keep = want - fresh.size();
  if (tail_.size() > keep) tail_.erase(tail_.begin(), tail_.end() - static_cast<ptrdiff_t>(keep));
  for (size_t j = fresh.size(); j-- > 0;) tail_.push_back(std::move(fresh[j]));
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
    // The shown bytes, and the few after them that decide the matches near their end.
    const size_t head = kShownLineBytes + matcher.Overlap();
    if (shown_.size() < head) shown_.append(fresh.substr(0, head - shown_.size()));
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
  // However the line's end is told, the memory a pattern gathered it in goes back.
  struct Release {
    std::string& line;
    ~Release() { std::string().swap(line); }
  } release{longLine_};
  if (longDecide_ && matcher.Regex()) {
    if (longTooLong_) {
      longTooMuch_ = longLiteral_;
    } else {
      const RegexVerdict verdict = matcher.Decide(longLine_);
      longFound_ = verdict == RegexVerdict::Hit;
      longTooMuch_ = verdict == RegexVerdict::TooMuchWork;
    }
  }
  const std::string_view shown = std::string_view(shown_).substr(0, kShownLineBytes);
  // The matches are those that begin in the shown bytes: a pattern's in the whole line.
  const std::string_view decides = matcher.Regex() && !longTooLong_ ? longLine_ : shown_;
  const bool hit = longDecide_ && longFound_ && (longInk_ || !matcher.BlankQuery());
  if (longDecide_ && (draining_ || (!hit && afterLeft_ > 0))) {
    // A line after a hit, told as context.
    if (!TellContext(line_, shown)) return false;
    if (--afterLeft_ == 0 && draining_) {
      enough_ = true;
      return false;
    }
  } else if (hit && !TellHit(line_, shown, Binary({}, longNul_), decides, nullptr)) {
    return false;
  }
  if (longDecide_ && !longFound_ && longTooMuch_ && longInk_ && !hooks_.Unsearched(line_))
    return false;
  if (wants_.before > 0 && longDecide_) {
    if (tail_.size() >= wants_.before) tail_.erase(tail_.begin());
    tail_.emplace_back(line_, std::string(shown));
  }
  return !next_ || Switch();
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
