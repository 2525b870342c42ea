// Regular expressions for the search: PCRE2 syntax, applied to one line at a time, so "^" and
// "$" match at the line's ends and no match crosses a line break. Files may hold any bytes:
// the pattern is UTF-8 with Unicode properties, and invalid sequences in a line never match.
// A line that would cost more than about 20 ms is not decided but said to need too much work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct pcre2_real_code_8;

namespace vorn {

struct RegexError {
  std::string message;  // PCRE2's own words
  size_t position = 0;  // 1-based, in characters of the pattern
};

// The literal bytes every match of a pattern contains, read from the pattern's common shapes
// (a concatenation holding a run of plain characters); empty when none is known. Without
// Match Case the run holds only characters whose case partners are ASCII, so an ASCII
// caseless scan finds every candidate. plain: the whole pattern is this literal, and the
// literal search gives the same lines.
struct RegexLiteral {
  std::string bytes;
  bool plain = false;
};
RegexLiteral RequiredLiteral(std::string_view pattern, bool matchCase);

enum class RegexVerdict { Miss, Hit, TooMuchWork };

class RegexMatcher {
 public:
  // Without Match Case the match is caseless by Unicode's simple folding. With Whole Word a
  // match counts only between the line's ends or non-word bytes; later matches are tried when
  // the first does not stand so. Null, with *error filled, for an invalid pattern. scansLines:
  // also compiled to scan many lines a call (NextCandidate), which only a pattern without a
  // required literal needs.
  static std::unique_ptr<const RegexMatcher> Compile(std::string_view pattern, bool matchCase,
                                                     bool wholeWord, RegexError* error,
                                                     bool scansLines = true);
  ~RegexMatcher();
  RegexMatcher(const RegexMatcher&) = delete;
  RegexMatcher& operator=(const RegexMatcher&) = delete;

  RegexVerdict Decide(std::string_view line) const;

  // One piece of a line longer than the reading buffer: its first context bytes repeat the end
  // of the piece before, and the piece after it will repeat nextContext bytes. A match that
  // may go on past the piece is left to the next one when it begins within those bytes; one
  // that begins earlier would need more of the line than is kept, and makes the line need too
  // much work.
  RegexVerdict DecidePiece(std::string_view piece, size_t context, bool startsLine, bool endsLine,
                           size_t nextContext) const;

  // The first match that counts in line, as byte offsets [*start, *end).
  bool FirstMatch(std::string_view line, size_t* start, size_t* end) const;

  // Whether many whole lines can be scanned in one call for candidates.
  bool ScansLines() const { return lines_ != nullptr; }
  // Where, at or after from, the first match of the pattern over lines (whole lines, "^" and
  // "$" at their breaks) begins: every line holding a match holds or follows that offset;
  // npos when there is none. False when the scan needed too much work. ascii: lines holds no
  // byte of 0x80 or more.
  bool NextCandidate(std::string_view lines, size_t from, bool ascii, size_t* at) const;

 private:
  enum class Found { None, Match, Partial, Limit };
  RegexMatcher(pcre2_real_code_8* code, bool wholeWord);
  Found Search(std::string_view subject, size_t from, unsigned options, bool endsLine,
               size_t* start, size_t* end) const;

  pcre2_real_code_8* code_;
  pcre2_real_code_8* lines_ = nullptr;  // the same pattern, over many lines
  // The same again for ASCII text, which it matches as the pattern does, many times faster.
  pcre2_real_code_8* asciiLines_ = nullptr;
  bool wholeWord_;
  size_t lookbehindBytes_ = 0;
  uint32_t matchLimit_ = 0;  // how far back the pattern may look from a match's start
};

// Whether patterns are compiled for the JIT (where the system allows it); tests turn it off to
// compare with the interpreter. Returns the setting it replaced.
bool SetRegexJit(bool on);

}  // namespace vorn
