// Regular expressions for the search: PCRE2 syntax, applied to one line at a time, so "^" and
// "$" match at the line's ends and no match crosses a line break. Files may hold any bytes:
// the pattern is UTF-8 with Unicode properties, and invalid sequences in a line never match.
// A line that would cost more than about 20 ms is not decided but said to need too much work.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;

namespace vorn {

struct RegexError {
  std::string message;  // PCRE2's own words
  size_t position = 0;  // 1-based, in characters of the pattern
};

// The literal bytes every match of a pattern contains, read from the pattern's common shapes
// (a concatenation holding a run of plain characters, alternatives that share one of three
// bytes or more, a group that holds one); empty when none is known. Without
// Match Case the run holds only characters whose case partners are ASCII, so an ASCII
// caseless scan finds every candidate. plain: the whole pattern is this literal, and the
// literal search gives the same lines.
struct RegexLiteral {
  std::string bytes;
  bool plain = false;
};
RegexLiteral RequiredLiteral(std::string_view pattern, bool matchCase);

enum class RegexVerdict { Miss, Hit, TooMuchWork };

struct MatchRange;

// The bytes a pattern's every match begins with, at least min of them in a row.
struct LeadingRun {
  std::array<bool, 256> in{};
  size_t min = 0;
  // The same class as ranges [low, high] of ASCII bytes, where it has four or fewer.
  size_t ranges = 0;
  char low[4] = {}, high[4] = {};
};

class RegexMatcher {
 public:
  // Without Match Case the match is caseless by Unicode's simple folding. With Whole Word a
  // match counts only where no word character touches it (LineMatcher.h), and the pattern
  // tries every way it can match until one stands so: "int|int_max" finds int_max whole.
  // Null, with *error filled, for an invalid pattern. scansLines: also compiled to scan many
  // lines a call (NextCandidate), which only a pattern without a required literal needs.
  static std::unique_ptr<const RegexMatcher> Compile(std::string_view pattern, bool matchCase,
                                                     bool wholeWord, RegexError* error,
                                                     bool scansLines = true);
  ~RegexMatcher();
  RegexMatcher(const RegexMatcher&) = delete;
  RegexMatcher& operator=(const RegexMatcher&) = delete;

  RegexVerdict Decide(std::string_view line) const;

  // The first match that counts in line, as byte offsets [*start, *end).
  bool FirstMatch(std::string_view line, size_t* start, size_t* end) const;

  // Appends every match that counts in line, leftmost first and never overlapping, as a
  // global substitution finds them: after an empty match the next must not be empty at the
  // same offset, else the search goes on one character later; up to the first that begins
  // at or past beginBefore. Returns how many it appended; a line that needs too much work
  // keeps those found before.
  size_t Matches(std::string_view line, std::vector<MatchRange>& out,
                 size_t beginBefore = std::string_view::npos) const;

  // Whether many whole lines can be scanned in one call for candidates.
  bool ScansLines() const { return lines_ != nullptr; }
  // Where, at or after from, the first match of the pattern over lines (whole lines, "^" and
  // "$" at their breaks) begins: every line holding a match holds or follows that offset;
  // npos when there is none. False when the scan needed too much work. ascii: lines holds no
  // byte of 0x80 or more.
  bool NextCandidate(std::string_view lines, size_t from, bool ascii, size_t* at) const;

 private:
  explicit RegexMatcher(pcre2_real_code_8* code) : code_(code) {}
  // PCRE2's result for one match from offset from; the match in *start, *end.
  int Match(std::string_view line, size_t from, uint32_t options, size_t* start, size_t* end) const;

  pcre2_real_code_8* code_;
  pcre2_real_code_8* lines_ = nullptr;  // the same pattern, over many lines
  // The same again for ASCII text, which it matches as the pattern does, many times faster.
  pcre2_real_code_8* asciiLines_ = nullptr;
  uint32_t matchLimit_ = 0;
  std::unique_ptr<const LeadingRun> run_;  // the candidates' first bytes, where known
};

// Whether patterns are compiled for the JIT (where the system allows it); tests turn it off to
// compare with the interpreter. Returns the setting it replaced.
bool SetRegexJit(bool on);

}  // namespace vorn
