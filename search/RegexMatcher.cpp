#include "RegexMatcher.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "LineMatcher.h"
#include "SearchHit.h"

namespace vorn {

namespace {

// Bounds on one match call, so a line costs at most about 20 ms however the pattern
// backtracks. The interpreter is some five times slower than the JIT's code, and gets a
// smaller limit.
constexpr uint32_t kJitMatchLimit = 2'000'000;
constexpr uint32_t kInterpreterMatchLimit = 400'000;
constexpr uint32_t kDepthLimit = 100'000;
constexpr uint32_t kHeapLimitKiB = 20 * 1024;
constexpr size_t kJitStackMax = size_t{1} << 20;

std::atomic<bool> jitOn{true};

// Whole Word: the callouts a pattern is wrapped in, one before it (where a match would begin)
// and one after it (where it would end). Any other callout of the pattern's own passes.
constexpr int kWordStart = 254;
constexpr int kWordEnd = 255;

// The line is the one being matched, not the callout's subject: with invalid UTF-8 in a line
// the interpreter may give just the valid stretch around the match.
int WordBounds(pcre2_callout_block* block, void* data) {
  const std::string_view line = *static_cast<const std::string_view*>(data);
  const size_t at = block->current_position;
  // A positive answer fails the match here, and the pattern tries its other ways.
  if (block->callout_number == kWordStart) return at > 0 && WordCharBefore(line, at) ? 1 : 0;
  if (block->callout_number == kWordEnd) return at < line.size() && WordCharAt(line, at) ? 1 : 0;
  return 0;
}

// Match data, a match context with the limits and a JIT stack for each thread: the compiled
// pattern is shared by every thread of a run.
class ThreadState {
 public:
  ThreadState()
      : data_(pcre2_match_data_create(1, nullptr)),
        context_(pcre2_match_context_create(nullptr)),
        stack_(pcre2_jit_stack_create(size_t{32} << 10, kJitStackMax, nullptr)) {
    if (!data_ || !context_ || !stack_) {
      Free();
      throw std::bad_alloc();
    }
    pcre2_set_depth_limit(context_, kDepthLimit);
    pcre2_set_heap_limit(context_, kHeapLimitKiB);
    pcre2_jit_stack_assign(context_, nullptr, stack_);
    pcre2_set_callout(context_, WordBounds, &line_);
  }
  ~ThreadState() { Free(); }
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  pcre2_match_data* data() const { return data_; }
  pcre2_match_context* context() const { return context_; }
  // The line matched now, for the word bounds.
  void SetLine(std::string_view line) { line_ = line; }

 private:
  void Free() {
    pcre2_match_data_free(data_);
    pcre2_match_context_free(context_);
    pcre2_jit_stack_free(stack_);
  }
  pcre2_match_data* data_;
  pcre2_match_context* context_;
  pcre2_jit_stack* stack_;
  std::string_view line_;
};

ThreadState& State() {
  thread_local ThreadState state;
  return state;
}

size_t Utf8Chars(std::string_view text) {
  size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Whether the pattern byte starts a quantifier; *min is the fewest repeats it allows, *at is
// moved past it. A brace that is not a quantifier is a literal brace: unknown here.
enum class Quantifier { None, Some, Unknown };
Quantifier ReadQuantifier(std::string_view p, size_t* at, size_t* min) {
  size_t i = *at;
  if (i >= p.size()) return Quantifier::None;
  if (p[i] == '*' || p[i] == '?') {
    *min = 0;
    ++i;
  } else if (p[i] == '+') {
    *min = 1;
    ++i;
  } else if (p[i] == '{') {
    size_t j = i + 1;
    size_t n = 0;
    const size_t digits = j;
    while (j < p.size() && p[j] >= '0' && p[j] <= '9')
      n = n * 10 + static_cast<size_t>(p[j++] - '0');
    if (j == digits) return Quantifier::Unknown;
    if (j < p.size() && p[j] == ',') {
      ++j;
      while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    }
    if (j >= p.size() || p[j] != '}') return Quantifier::Unknown;
    *min = n;
    i = j + 1;
  } else {
    return Quantifier::None;
  }
  if (i < p.size() && (p[i] == '?' || p[i] == '+')) ++i;  // lazy or possessive
  *at = i;
  return Quantifier::Some;
}

// The offset just past the character class that begins at p[at] == '[', or npos.
size_t SkipClass(std::string_view p, size_t at) {
  size_t j = at + 1;
  if (j < p.size() && p[j] == '^') ++j;
  if (j < p.size() && p[j] == ']') ++j;
  while (j < p.size()) {
    if (p[j] == '\\') {
      j += 2;
    } else if (p[j] == '[' && j + 1 < p.size() && p[j + 1] == ':') {
      const size_t close = p.find(":]", j + 2);
      if (close == std::string_view::npos) return std::string_view::npos;
      j = close + 2;
    } else if (p[j] == ']') {
      return j + 1;
    } else {
      ++j;
    }
  }
  return std::string_view::npos;
}

// The offset just past the group that begins at p[at] == '(', or npos for a group whose
// kind is not a plain, look-around or atomic group (option settings change what follows).
size_t SkipGroup(std::string_view p, size_t at) {
  if (at + 1 < p.size() && p[at + 1] == '*') return std::string_view::npos;
  if (at + 1 < p.size() && p[at + 1] == '?') {
    const std::string_view kind = p.substr(at + 2, 2);
    if (!kind.starts_with(':') && !kind.starts_with('=') && !kind.starts_with('!') &&
        !kind.starts_with('>') && kind != "<=" && kind != "<!")
      return std::string_view::npos;
  }
  int depth = 0;
  size_t j = at;
  while (j < p.size()) {
    const char c = p[j];
    if (c == '\\') {
      if (j + 1 < p.size() && p[j + 1] == 'Q') return std::string_view::npos;
      j += 2;
    } else if (c == '[') {
      j = SkipClass(p, j);
      if (j == std::string_view::npos) return j;
    } else {
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) return j + 1;
      ++j;
    }
  }
  return std::string_view::npos;
}

// Whether a caseless scan by ASCII case finds every character that matches c caselessly:
// not for non-ASCII bytes, nor for k and s, which Unicode pairs with the Kelvin sign and the
// long s.
bool AsciiFoldable(unsigned char c) {
  const unsigned char lower = (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
  return c < 0x80 && lower != 'k' && lower != 's';
}

}  // namespace

namespace {

// A literal shared by the branches of an alternation is worth a scan of its own from this
// length; a shorter one would make nearly every line a candidate.
constexpr size_t kMinSharedLiteral = 3;
// Of each run, the bytes looked at for one the other branches share.
constexpr size_t kSharedRunBytes = 64;

// What one branch (a concatenation, no "|" at its top) requires: the runs of plain
// characters every match of it holds, and whether it is one plain literal (*all).
struct BranchRead {
  std::vector<std::string> runs;
  std::string all;
  bool plain = true;
};

RegexLiteral ReadPattern(std::string_view p, bool matchCase, int depth);

// The branches of the pattern's top alternation; none when its text is not read here.
std::vector<std::string_view> TopBranches(std::string_view p) {
  std::vector<std::string_view> branches;
  size_t begin = 0;
  size_t i = 0;
  while (i < p.size()) {
    if (p[i] == '\\') {
      i += 2;
    } else if (p[i] == '[') {
      i = SkipClass(p, i);
    } else if (p[i] == '(') {
      i = SkipGroup(p, i);
    } else {
      if (p[i] == '|') {
        branches.push_back(p.substr(begin, i - begin));
        begin = i + 1;
      }
      ++i;
    }
    if (i == std::string_view::npos) return {};
  }
  branches.push_back(p.substr(std::min(begin, p.size())));
  return branches;
}

// A plain, non-capturing or positive look-around group that the match passes through at
// least once: what its pattern requires, the line holds. at: the group's "(", end: past ")".
std::string GroupLiteral(std::string_view p, size_t at, size_t end, size_t min, bool matchCase,
                         int depth) {
  size_t body = at + 1;
  if (p.substr(body, 1) == "?") {
    const std::string_view kind = p.substr(body + 1, 2);
    if (kind.starts_with(':') || kind.starts_with('='))
      body += 2;
    else if (kind == "<=")
      body += 3;
    else
      return {};  // negative, atomic: not required
  }
  if (min == 0 || end <= body) return {};
  return ReadPattern(p.substr(body, end - 1 - body), matchCase, depth + 1).bytes;
}

bool ReadBranch(std::string_view p, bool matchCase, int depth, BranchRead* read) {
  std::string run;
  const auto endRun = [&] {
    if (!run.empty()) read->runs.push_back(run);
    run.clear();
  };
  size_t i = 0;
  while (i < p.size()) {
    const auto c = static_cast<unsigned char>(p[i]);
    std::string_view literal;  // the atom's bytes, when it is one literal character
    size_t group = std::string_view::npos;
    if (c == '\\') {
      if (i + 1 >= p.size()) return false;
      const auto n = static_cast<unsigned char>(p[i + 1]);
      if (n >= 0x80) return false;
      if ((n >= '0' && n <= '9') || (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z')) {
        // Classes and assertions of one letter break a run; anything else (escaped code
        // points, properties, back references, quoting) is not read here.
        if (!std::strchr("dDwWsShHvVRXbBAzZG", n) ||
            (i + 2 < p.size() && (p[i + 2] == '{' || p[i + 2] == '<')))
          return false;
      } else {
        literal = p.substr(i + 1, 1);
      }
      i += 2;
    } else if (c == '[') {
      i = SkipClass(p, i);
    } else if (c == '(') {
      group = i;
      i = SkipGroup(p, i);
    } else if (c == '.' || c == '^' || c == '$') {
      ++i;
    } else if (std::strchr("|)*+?{", c)) {
      return false;  // what only a quantifier may begin
    } else {
      size_t n = 1;
      while (i + n < p.size() && (static_cast<unsigned char>(p[i + n]) & 0xC0) == 0x80) ++n;
      literal = p.substr(i, n);
      i += n;
    }
    if (i == std::string_view::npos) return false;
    const size_t atomEnd = i;
    size_t min = 1;
    const Quantifier q = ReadQuantifier(p, &i, &min);
    if (q == Quantifier::Unknown) return false;
    const bool usable = !literal.empty() && q == Quantifier::None &&
                        (matchCase || AsciiFoldable(static_cast<unsigned char>(literal[0])));
    if (literal.empty() || q != Quantifier::None) read->plain = false;
    read->all.append(literal);
    if (usable) {
      run.append(literal);
      continue;
    }
    endRun();
    if (group != std::string_view::npos) {
      std::string inner = GroupLiteral(p, group, atomEnd, min, matchCase, depth);
      if (!inner.empty()) read->runs.push_back(std::move(inner));
    }
  }
  endRun();
  return true;
}

std::string Folded(std::string_view text, bool matchCase) {
  std::string folded(text);
  if (!matchCase)
    for (char& c : folded)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return folded;
}

// The longest stretch of the first branch's runs that some run of every other branch holds
// too (by ASCII case when case is ignored), or empty when it would be shorter than
// kMinSharedLiteral.
std::string SharedLiteral(const std::vector<BranchRead>& branches, bool matchCase) {
  std::vector<std::vector<std::string>> folded;
  for (const BranchRead& branch : branches) {
    folded.emplace_back();
    for (const std::string& run : branch.runs) folded.back().push_back(Folded(run, matchCase));
  }
  const auto everyBranchHolds = [&](std::string_view piece) {
    return std::all_of(folded.begin() + 1, folded.end(), [&](const auto& runs) {
      return std::any_of(runs.begin(), runs.end(), [&](const std::string& run) {
        return run.find(piece) != std::string::npos;
      });
    });
  };
  std::string best;
  for (size_t r = 0; r < folded[0].size(); ++r) {
    const std::string_view run = std::string_view(folded[0][r]).substr(0, kSharedRunBytes);
    for (size_t length = run.size(); length > best.size() && length >= kMinSharedLiteral;
         --length) {
      bool found = false;
      for (size_t at = 0; at + length <= run.size() && !found; ++at) {
        // A stretch that cuts a UTF-8 character is still a required byte string.
        if (everyBranchHolds(run.substr(at, length))) {
          best = branches[0].runs[r].substr(at, length);
          found = true;
        }
      }
      if (found) break;
    }
  }
  return best;
}

// Groups nest at most this deep before their literals are left unread.
constexpr int kMaxGroupDepth = 8;

RegexLiteral ReadPattern(std::string_view p, bool matchCase, int depth) {
  if (depth > kMaxGroupDepth) return {};
  const std::vector<std::string_view> parts = TopBranches(p);
  if (parts.empty()) return {};
  std::vector<BranchRead> branches(parts.size());
  for (size_t b = 0; b < parts.size(); ++b)
    if (!ReadBranch(parts[b], matchCase, depth, &branches[b]) || branches[b].runs.empty())
      return {};
  if (branches.size() > 1) return {SharedLiteral(branches, matchCase), false};
  const BranchRead& only = branches[0];
  std::string best;
  for (const std::string& run : only.runs)
    if (run.size() > best.size()) best = run;
  if (only.plain && !only.all.empty() && best == only.all) return {only.all, true};
  return {best, false};
}

}  // namespace

RegexLiteral RequiredLiteral(std::string_view p, bool matchCase) {
  return ReadPattern(p, matchCase, 0);
}

bool SetRegexJit(bool on) { return jitOn.exchange(on); }

namespace {

// Whether the pattern finds, over many lines at once, a match at or before every match it has
// in a line alone. With "^" and "$" at line breaks it does, unless it looks past a line's ends
// (look-arounds, \A, \z, \Z, \G, \K) or gives up backtracking (atomic groups, possessive
// quantifiers, verbs), which the text of the pattern shows; a doubtful one is not scanned so.
bool ScansLinesAlike(std::string_view pattern) {
  for (size_t at = pattern.find("(?"); at != std::string_view::npos;
       at = pattern.find("(?", at + 1))
    if (pattern.substr(at + 2, 1) != ":") return false;  // only plain groups
  for (const char* unsafe : {"(*", "\\A", "\\z", "\\Z", "\\G", "\\K", "++", "*+", "?+", "}+"})
    if (pattern.find(unsafe) != std::string_view::npos) return false;
  return true;
}

bool IsRunByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// A pattern that begins with a class of ASCII letters, digits and "_" repeated at least twice,
// as "[a-z]{25,}", and has no alternative at its top: every match begins where that many bytes
// of the class follow each other, which a byte loop finds far faster than the pattern tried
// at every place. Matching case only: ignoring it, a Latin letter's class holds the Kelvin
// sign and the long s.
std::unique_ptr<LeadingRun> LeadingRunOf(std::string_view p, bool matchCase) {
  if (!matchCase || p.size() < 5 || p[0] != '[' || p[1] == '^') return nullptr;
  auto run = std::make_unique<LeadingRun>();
  size_t i = 1;
  for (; i < p.size() && p[i] != ']'; ++i) {
    const char first = p[i];
    char last = first;
    if (!IsRunByte(first)) return nullptr;
    if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
      last = p[i + 2];
      if (!IsRunByte(last) || last < first) return nullptr;
      i += 2;
    }
    for (char c = first; c <= last; ++c) run->in[static_cast<unsigned char>(c)] = true;
  }
  // The class as ranges of bytes, for the vector test; beyond four, byte by byte.
  for (int c = 0; c < 0x80; ++c) {
    if (!run->in[static_cast<size_t>(c)] || (c > 0 && run->in[static_cast<size_t>(c - 1)]))
      continue;
    int to = c;
    while (to < 0x7F && run->in[static_cast<size_t>(to) + 1]) ++to;
    if (run->ranges == std::size(run->low)) {
      run->ranges = 0;
      break;
    }
    run->low[run->ranges] = static_cast<char>(c);
    run->high[run->ranges++] = static_cast<char>(to);
  }
  if (i + 1 >= p.size() || i == 1 || p[i + 1] != '{') return nullptr;
  size_t at = i + 2, min = 0;
  for (; at < p.size() && p[at] >= '0' && p[at] <= '9' && min < 100000; ++at)
    min = min * 10 + static_cast<size_t>(p[at] - '0');
  if (at == i + 2 || at >= p.size() || (p[at] != '}' && p[at] != ',') || min < 2) return nullptr;
  if (p[at] == ',') {
    ++at;
    while (at < p.size() && p[at] >= '0' && p[at] <= '9') ++at;
    if (at >= p.size() || p[at] != '}') return nullptr;
  }
  // A quantifier on the quantifier would make the run optional.
  if (at + 1 < p.size() && (p[at + 1] == '{' || p[at + 1] == '*' || p[at + 1] == '+'))
    return nullptr;
  // One branch at the top; a quote could hide a "|" from the reading.
  if (p.find("\\Q") != std::string_view::npos || TopBranches(p).size() != 1) return nullptr;
  run->min = min;
  return run;
}

#ifdef __SSE2__
// The bytes of text[at, at + 64) in the run's class, as bits.
uint64_t ClassBits(const char* at, const LeadingRun& run) {
  uint64_t bits = 0;
  for (size_t part = 0; part < 4; ++part) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    __m128i in = _mm_setzero_si128();
    // The ranges are ASCII, so bytes of 0x80 or more, negative here, fall below every one.
    for (size_t r = 0; r < run.ranges; ++r)
      in = _mm_or_si128(
          in, _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(run.low[r] - 1))),
                            _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(run.high[r] + 1)))));
    bits |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(in))} << (16 * part);
  }
  return bits;
}
#endif

// Where, from `from` on, the first stretch of the run's length of bytes of its class begins:
// 64 bytes at a time, a stretch marked at its first bit by the bits shifted onto it, and one
// that goes on from the 64 bytes before carried over.
size_t FirstRun(std::string_view text, size_t from, const LeadingRun& run) {
  const size_t n = text.size();
  size_t length = 0;
  size_t i = from;
#ifdef __SSE2__
  for (; run.ranges > 0 && i + 64 <= n; i += 64) {
    const uint64_t bits = ClassBits(text.data() + i, run);
    if (bits == ~uint64_t{0}) {
      length += 64;
      if (length >= run.min) return i + 64 - length;
      continue;
    }
    const auto lead = static_cast<size_t>(__builtin_ctzll(~bits));
    if (length + lead >= run.min) return i - length;
    if (run.min <= 64) {
      uint64_t starts = bits;
      for (size_t covered = 1; covered < run.min;) {
        const size_t shift = std::min(covered, run.min - covered);
        starts &= starts >> shift;
        covered += shift;
      }
      if (starts) return i + static_cast<size_t>(__builtin_ctzll(starts));
    }
    length = static_cast<size_t>(__builtin_clzll(~bits));
  }
#endif
  for (; i < n; ++i) {
    if (!run.in[static_cast<unsigned char>(text[i])]) {
      length = 0;
    } else if (++length == run.min) {
      return i + 1 - run.min;
    }
  }
  return std::string_view::npos;
}

pcre2_code* CompileForLines(std::string_view pattern, uint32_t options) {
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (!context) return nullptr;
  // Lines end at LF, CR LF or a lone CR, as the search counts them.
  pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* compiled =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                    options | PCRE2_MULTILINE | PCRE2_NO_AUTO_POSSESS, &code, &offset, context);
  pcre2_compile_context_free(context);
  if (compiled && jitOn.load()) pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
  return compiled;
}

// The length of the settings at the pattern's start that only work there ("(*UCP)",
// "(*LIMIT_MATCH=10)"), which stay in front when the pattern is wrapped.
size_t StartSettingsLength(std::string_view pattern) {
  static constexpr std::string_view kSettings[] = {"UTF",
                                                   "UCP",
                                                   "NO_AUTO_POSSESS",
                                                   "NO_DOTSTAR_ANCHOR",
                                                   "NO_JIT",
                                                   "NO_START_OPT",
                                                   "NOTEMPTY",
                                                   "NOTEMPTY_ATSTART",
                                                   "CR",
                                                   "LF",
                                                   "CRLF",
                                                   "ANYCRLF",
                                                   "ANY",
                                                   "NUL",
                                                   "BSR_ANYCRLF",
                                                   "BSR_UNICODE",
                                                   "LIMIT_HEAP=",
                                                   "LIMIT_MATCH=",
                                                   "LIMIT_DEPTH=",
                                                   "LIMIT_RECURSION="};
  size_t at = 0;
  while (pattern.substr(at, 2) == "(*") {
    const size_t close = pattern.find(')', at);
    if (close == std::string_view::npos) break;
    std::string_view name = pattern.substr(at + 2, close - at - 2);
    if (const size_t equals = name.find('='); equals != std::string_view::npos)
      name = name.substr(0, equals + 1);
    if (std::find(std::begin(kSettings), std::end(kSettings), name) == std::end(kSettings)) break;
    at = close + 1;
  }
  return at;
}

// The pattern held to whole words by the callouts around it. "\E" ends a quote the pattern
// leaves open; a line break ends the comment an extended pattern may end in.
std::string WholeWordPattern(std::string_view pattern, bool endComment) {
  const size_t settings = StartSettingsLength(pattern);
  std::string wrapped(pattern.substr(0, settings));
  wrapped += "(?C" + std::to_string(kWordStart) + ")(?:";
  wrapped += pattern.substr(settings);
  wrapped += endComment ? "\\E\n)" : "\\E)";
  wrapped += "(?C" + std::to_string(kWordEnd) + ")";
  return wrapped;
}

pcre2_code* CompileOnce(std::string_view pattern, uint32_t options, RegexError* error) {
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                       options, &code, &offset, nullptr);
  if (!compiled && error) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(code, message, sizeof message);
    error->message = reinterpret_cast<const char*>(message);
    error->position = Utf8Chars(pattern.substr(0, std::min<size_t>(offset, pattern.size()))) + 1;
  }
  return compiled;
}

}  // namespace

std::unique_ptr<const RegexMatcher> RegexMatcher::Compile(std::string_view pattern, bool matchCase,
                                                          bool wholeWord, RegexError* error,
                                                          bool scansLines) {
  uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_UCP;
  if (!matchCase) options |= PCRE2_CASELESS;
  pcre2_code* compiled = CompileOnce(pattern, options, error);
  if (!compiled) return nullptr;
  if (wholeWord) {
    // Errors are told of the pattern as given; the wrapped one tries every way to match at a
    // place, which giving up backtracking where the pattern's end follows would cut short.
    pcre2_code_free(compiled);
    RegexError wrapError;
    const uint32_t wrapOptions = options | PCRE2_NO_AUTO_POSSESS;
    compiled = CompileOnce(WholeWordPattern(pattern, false), wrapOptions, nullptr);
    if (!compiled) compiled = CompileOnce(WholeWordPattern(pattern, true), wrapOptions, &wrapError);
    if (!compiled) {
      if (error) *error = {wrapError.message, 1};
      return nullptr;
    }
  }
  // Without the JIT (the system may forbid executable memory) the interpreter gives the same
  // results.
  if (jitOn.load()) pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
  std::unique_ptr<RegexMatcher> matcher(new RegexMatcher(compiled));
  if (scansLines && ScansLinesAlike(pattern)) {
    // Over many lines the pattern goes without the word bounds: it finds every match that
    // stands whole, and more.
    matcher->lines_ = CompileForLines(pattern, options);
    // On ASCII text an ASCII pattern's classes, \b and case rule give without Unicode what
    // they give with it (the Kelvin sign, a caseless k, is not ASCII); one naming code points
    // above 255 does not compile so and goes without.
    const bool asciiPattern = std::all_of(pattern.begin(), pattern.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x80;
    });
    if (matcher->lines_ && asciiPattern)
      matcher->asciiLines_ = CompileForLines(pattern, options & PCRE2_CASELESS);
    if (matcher->lines_) matcher->run_ = LeadingRunOf(pattern, matchCase);
  }
  size_t jitSize = 0;
  pcre2_pattern_info(compiled, PCRE2_INFO_JITSIZE, &jitSize);
  matcher->matchLimit_ = jitSize > 0 ? kJitMatchLimit : kInterpreterMatchLimit;
  return matcher;
}

RegexMatcher::~RegexMatcher() {
  pcre2_code_free(code_);
  pcre2_code_free(lines_);
  pcre2_code_free(asciiLines_);
}

int RegexMatcher::Match(std::string_view line, size_t from, uint32_t options, size_t* start,
                        size_t* end) const {
  ThreadState& state = State();
  state.SetLine(line);
  pcre2_set_match_limit(state.context(), matchLimit_);
  const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), from,
                             options, state.data(), state.context());
  if (rc >= 0) {
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(state.data());
    *start = ovector[0];
    *end = ovector[1];
  }
  return rc;
}

RegexVerdict RegexMatcher::Decide(std::string_view line) const {
  size_t start = 0, end = 0;
  const int rc = Match(line, 0, 0, &start, &end);
  if (rc == PCRE2_ERROR_NOMATCH) return RegexVerdict::Miss;
  // The limits, a JIT stack too small, no memory: the line is not decided.
  return rc < 0 ? RegexVerdict::TooMuchWork : RegexVerdict::Hit;
}

bool RegexMatcher::FirstMatch(std::string_view line, size_t* start, size_t* end) const {
  return Match(line, 0, 0, start, end) >= 0;
}

size_t RegexMatcher::Matches(std::string_view line, std::vector<MatchRange>& out,
                             size_t beginBefore) const {
  const size_t before = out.size();
  size_t from = 0;
  uint32_t options = 0;
  for (;;) {
    size_t start = 0, end = 0;
    const int rc = Match(line, from, options, &start, &end);
    if (rc < 0 || start >= beginBefore) break;
    out.push_back({start, end});
    // After an empty match, the next is the first that is not empty where it was, or the
    // first one character on or later: what a substitution's retry there, then its step on,
    // finds, in one call the JIT runs.
    options = start == end ? PCRE2_NOTEMPTY_ATSTART : 0;
    from = end;
  }
  return out.size() - before;
}

bool RegexMatcher::NextCandidate(std::string_view lines, size_t from, bool ascii,
                                 size_t* at) const {
  if (run_) {
    from = FirstRun(lines, from, *run_);
    if (from == std::string_view::npos) {
      *at = from;
      return true;
    }
  }
  const ThreadState& state = State();
  pcre2_set_match_limit(state.context(), matchLimit_);
  const int rc = pcre2_match(ascii && asciiLines_ ? asciiLines_ : lines_,
                             reinterpret_cast<PCRE2_SPTR>(lines.data()), lines.size(), from, 0,
                             state.data(), state.context());
  if (rc == PCRE2_ERROR_NOMATCH) {
    *at = std::string_view::npos;
    return true;
  }
  if (rc < 0) return false;
  *at = pcre2_get_ovector_pointer(state.data())[0];
  return true;
}

}  // namespace vorn
