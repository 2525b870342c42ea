// Decides whether one line is a hit for the query under the Whole Word and Match Case rules,
// and, with the regular expression option, for the pattern.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PatternScanner.h"
#include "RegexMatcher.h"
#include "SearchHit.h"

namespace vorn {

struct SearchOptions {
  std::string query;  // untrimmed bytes
  bool wholeWord = false;
  bool matchCase = false;
  bool regex = false;  // the query is a regular expression
  // Hits in binary files are marked as such (the command line tells of them instead).
  bool tellBinary = false;
  // How files without a byte-order mark are decoded: kEncodingAuto (empty), kEncodingUtf8
  // or an encoding's name (TextDecoding.h).
  std::string encoding{};
  // Compressed files are searched as their content and archives as their members (Packed.h);
  // fixed for a run at its start, as the listing is.
  bool packed = false;
  bool operator==(const SearchOptions&) const = default;
};

// With Match Case off, letters compare by Unicode's simple case folding (CaseFold.h); bytes
// that are not valid UTF-8 compare exactly. This table is its ASCII part: a to z as A to Z.
const KeyTable& CaseInsensitiveKeys();

// Whole Word: an occurrence stands whole when no word character touches it. In UTF-8 text a
// word character is a letter, a number, a combining mark or a connector punctuation ("_");
// a byte that is not part of valid UTF-8 counts as one, so words in another encoding stay
// whole. The literal search, a pattern's matches and the window all go by this one rule.
bool NonAsciiWordBefore(std::string_view text, size_t at);
bool NonAsciiWordAt(std::string_view text, size_t at);

inline bool IsAsciiWordByte(unsigned char b) {
  return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_';
}

// Whether the character that ends at offset at (0 < at <= size) is a word character; a
// character cut at at is not valid there, and counts as one.
inline bool WordCharBefore(std::string_view text, size_t at) {
  const auto b = static_cast<unsigned char>(text[at - 1]);
  return b < 0x80 ? IsAsciiWordByte(b) : NonAsciiWordBefore(text, at);
}

// Whether the character that begins at offset at (at < size) is a word character.
inline bool WordCharAt(std::string_view text, size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  return b < 0x80 ? IsAsciiWordByte(b) : NonAsciiWordAt(text, at);
}

// Whether bytes [begin, end) of a line stand whole: the line's ends bound words.
inline bool StandsWhole(std::string_view line, size_t begin, size_t end) {
  return (begin == 0 || !WordCharBefore(line, begin)) &&
         (end == line.size() || !WordCharAt(line, end));
}

// An occurrence in a line: where it begins and how many bytes it takes; none has at == npos.
struct LineMatch {
  size_t at = std::string_view::npos;
  size_t size = 0;
  bool Found() const { return at != std::string_view::npos; }
};

class LineMatcher {
 public:
  // An invalid pattern matches no line (the front ends refuse it before a run).
  explicit LineMatcher(const SearchOptions& options);

  // A blank line (only bytes up to 32) is never a hit. With Whole Word on, some occurrence
  // must stand between the line's ends or non-word bytes.
  bool IsHit(std::string_view line) const;
  // The same, with the lines a pattern needs too much work for told apart from misses.
  RegexVerdict Decide(std::string_view line) const;

  // Whether some occurrence in text counts. text may be a piece of a long line: where it does
  // not start (or end) the line, an occurrence touching that end is left to the neighbouring
  // piece, which sees the bytes around it.
  bool CountsIn(std::string_view text, bool startsLine, bool endsLine) const;

  // The first occurrence that counts in text, a line or a piece of one as for CountsIn. The
  // printer marks it and gives its column. A pattern's match is known only in a whole line.
  LineMatch FirstMatch(std::string_view text, bool startsLine = true, bool endsLine = true) const;

  // Appends every match that counts in a whole line, leftmost first and never overlapping, as
  // a pattern's substitution would find them in turn, up to the first that begins at or past
  // beginBefore; returns how many it appended. A query's matches may be looked for from an
  // offset on (the end of a match known before it); a pattern's always start at 0.
  size_t Matches(std::string_view line, std::vector<MatchRange>& out,
                 size_t beginBefore = std::string_view::npos, size_t from = 0) const;

  // A query of blanks only, or a pattern: a line it is found in may still be blank.
  bool BlankQuery() const { return blankQuery_; }

  // An empty query, or one holding a line break, can match no line.
  bool NeverHits() const { return never_; }

  // The pattern that decides candidate lines, or null: the scanner alone decides. Candidates
  // are the lines holding the scanner's literal, or every line when it has none.
  const RegexMatcher* Regex() const { return regex_.get(); }
  bool EveryLine() const { return regex_ && scanner_.size() == 0; }
  // Bytes a piece of a long line repeats of the piece before it.
  size_t Overlap() const;

  const PatternScanner& Scanner() const { return scanner_; }
  const SearchOptions& Options() const { return options_; }

 private:
  struct Plan;
  LineMatcher(const SearchOptions& options, Plan plan);

  SearchOptions options_;
  std::shared_ptr<const RegexMatcher> regex_;
  PatternScanner scanner_;
  bool wholeWord_;  // of the scanner's literal
  bool never_;
  bool blankQuery_;
};

}  // namespace vorn
