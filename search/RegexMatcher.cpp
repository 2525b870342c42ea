#include "RegexMatcher.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <new>

#include "LineMatcher.h"

namespace vorn {

namespace {

// Bounds on one match call, so a line costs at most about 20 ms however the pattern
// backtracks; the whole-word retries on one line share the same time. The interpreter is
// some five times slower than the JIT's code, and gets a smaller limit.
constexpr uint32_t kJitMatchLimit = 2'000'000;
constexpr uint32_t kInterpreterMatchLimit = 400'000;
constexpr uint32_t kDepthLimit = 100'000;
constexpr uint32_t kHeapLimitKiB = 20 * 1024;
constexpr size_t kJitStackMax = size_t{1} << 20;
constexpr std::chrono::milliseconds kLineBudget{20};

std::atomic<bool> jitOn{true};

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
  }
  ~ThreadState() { Free(); }
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  pcre2_match_data* data() const { return data_; }
  pcre2_match_context* context() const { return context_; }

 private:
  void Free() {
    pcre2_match_data_free(data_);
    pcre2_match_context_free(context_);
    pcre2_jit_stack_free(stack_);
  }
  pcre2_match_data* data_;
  pcre2_match_context* context_;
  pcre2_jit_stack* stack_;
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

RegexLiteral RequiredLiteral(std::string_view p, bool matchCase) {
  std::string best, run, all;
  bool plain = true;
  const auto endRun = [&] {
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  size_t i = 0;
  while (i < p.size()) {
    const auto c = static_cast<unsigned char>(p[i]);
    std::string_view literal;  // the atom's bytes, when it is one literal character
    if (c == '\\') {
      if (i + 1 >= p.size()) return {};
      const auto n = static_cast<unsigned char>(p[i + 1]);
      if (n >= 0x80) return {};
      if ((n >= '0' && n <= '9') || (n >= 'a' && n <= 'z') || (n >= 'A' && n <= 'Z')) {
        // Classes and assertions of one letter break a run; anything else (escaped code
        // points, properties, back references, quoting) is not read here.
        if (!std::strchr("dDwWsShHvVRXbBAzZG", n) ||
            (i + 2 < p.size() && (p[i + 2] == '{' || p[i + 2] == '<')))
          return {};
      } else {
        literal = p.substr(i + 1, 1);
      }
      i += 2;
    } else if (c == '[') {
      i = SkipClass(p, i);
    } else if (c == '(') {
      i = SkipGroup(p, i);
    } else if (c == '.' || c == '^' || c == '$') {
      ++i;
    } else if (std::strchr("|)*+?{", c)) {
      return {};  // an alternation at the top, or what only a quantifier may begin
    } else {
      size_t n = 1;
      while (i + n < p.size() && (static_cast<unsigned char>(p[i + n]) & 0xC0) == 0x80) ++n;
      literal = p.substr(i, n);
      i += n;
    }
    if (i == std::string_view::npos) return {};
    size_t min = 0;
    const Quantifier q = ReadQuantifier(p, &i, &min);
    if (q == Quantifier::Unknown) return {};
    const bool usable = !literal.empty() && q == Quantifier::None &&
                        (matchCase || AsciiFoldable(static_cast<unsigned char>(literal[0])));
    if (literal.empty() || q != Quantifier::None) plain = false;
    all.append(literal);
    if (usable)
      run.append(literal);
    else
      endRun();
  }
  endRun();
  if (plain && !all.empty() && best == all) return {all, true};
  return {best, false};
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

}  // namespace

std::unique_ptr<const RegexMatcher> RegexMatcher::Compile(std::string_view pattern, bool matchCase,
                                                          bool wholeWord, RegexError* error,
                                                          bool scansLines) {
  uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_UCP;
  if (!matchCase) options |= PCRE2_CASELESS;
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                       options, &code, &offset, nullptr);
  if (!compiled) {
    if (error) {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(code, message, sizeof message);
      error->message = reinterpret_cast<const char*>(message);
      error->position = Utf8Chars(pattern.substr(0, std::min<size_t>(offset, pattern.size()))) + 1;
    }
    return nullptr;
  }
  // Without the JIT (the system may forbid executable memory) the interpreter gives the same
  // results.
  if (jitOn.load()) pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
  std::unique_ptr<RegexMatcher> matcher(new RegexMatcher(compiled, wholeWord));
  if (scansLines && ScansLinesAlike(pattern)) {
    matcher->lines_ = CompileForLines(pattern, options);
    // On ASCII text an ASCII pattern's classes, \b and case rule give without Unicode what
    // they give with it (the Kelvin sign, a caseless k, is not ASCII); one naming code points
    // above 255 does not compile so and goes without.
    const bool asciiPattern = std::all_of(pattern.begin(), pattern.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x80;
    });
    if (matcher->lines_ && asciiPattern)
      matcher->asciiLines_ = CompileForLines(pattern, options & PCRE2_CASELESS);
  }
  size_t jitSize = 0;
  pcre2_pattern_info(compiled, PCRE2_INFO_JITSIZE, &jitSize);
  matcher->matchLimit_ = jitSize > 0 ? kJitMatchLimit : kInterpreterMatchLimit;
  uint32_t lookbehind = 0;
  pcre2_pattern_info(compiled, PCRE2_INFO_MAXLOOKBEHIND, &lookbehind);
  // Characters of up to four bytes, and one more for the word rule's byte before a match.
  matcher->lookbehindBytes_ = 4 * size_t{lookbehind} + 1;
  return matcher;
}

RegexMatcher::RegexMatcher(pcre2_real_code_8* code, bool wholeWord)
    : code_(code), wholeWord_(wholeWord) {}

RegexMatcher::~RegexMatcher() {
  pcre2_code_free(code_);
  pcre2_code_free(lines_);
  pcre2_code_free(asciiLines_);
}

// The first match in subject from offset from that counts; with Whole Word the matches that
// do not stand between non-word bytes are passed over. A match touching the subject's end
// when the line goes on is partial: the bytes after it are not known yet.
RegexMatcher::Found RegexMatcher::Search(std::string_view subject, size_t from, unsigned options,
                                         bool endsLine, size_t* start, size_t* end) const {
  const ThreadState& state = State();
  pcre2_set_match_limit(state.context(), matchLimit_);
  const auto* bytes = reinterpret_cast<PCRE2_SPTR>(subject.data());
  // Timed from the first retry on: a line decided at its first match reads no clock.
  std::chrono::steady_clock::time_point began;
  for (int tries = 1;; ++tries) {
    const int rc =
        pcre2_match(code_, bytes, subject.size(), from, options, state.data(), state.context());
    if (rc == PCRE2_ERROR_NOMATCH) return Found::None;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(state.data());
    if (rc == PCRE2_ERROR_PARTIAL) {
      *start = ovector[0];
      return Found::Partial;
    }
    // The limits, a JIT stack too small, no memory: the line is not decided.
    if (rc < 0) return Found::Limit;
    *start = ovector[0];
    *end = ovector[1];
    if (!wholeWord_) return Found::Match;
    const bool startOk = *start == 0 ? (options & PCRE2_NOTBOL) == 0
                                     : !IsWordByte(static_cast<unsigned char>(subject[*start - 1]));
    if (*end == subject.size() && !endsLine) {
      if (startOk) return Found::Partial;
    } else if (startOk &&
               (*end == subject.size() || !IsWordByte(static_cast<unsigned char>(subject[*end])))) {
      return Found::Match;
    }
    // A later match may stand alone: try from the next character on.
    if (tries == 1) began = std::chrono::steady_clock::now();
    from = *start + 1;
    while (from < subject.size() && (static_cast<unsigned char>(subject[from]) & 0xC0) == 0x80)
      ++from;
    if (from > subject.size()) return Found::None;
    if (tries % 16 == 0 && std::chrono::steady_clock::now() - began > kLineBudget)
      return Found::Limit;
  }
}

RegexVerdict RegexMatcher::Decide(std::string_view line) const {
  size_t start = 0, end = 0;
  switch (Search(line, 0, 0, true, &start, &end)) {
    case Found::Match:
      return RegexVerdict::Hit;
    case Found::Limit:
      return RegexVerdict::TooMuchWork;
    default:
      return RegexVerdict::Miss;
  }
}

RegexVerdict RegexMatcher::DecidePiece(std::string_view piece, size_t context, bool startsLine,
                                       bool endsLine, size_t nextContext) const {
  unsigned options = 0;
  size_t from = 0;
  if (!startsLine) {
    // The bytes before the piece's context are gone: matches are tried from where the
    // pattern's look back still sees the line as it is.
    options |= PCRE2_NOTBOL;
    from = std::min(context, lookbehindBytes_);
  }
  if (!endsLine) options |= PCRE2_NOTEOL | PCRE2_PARTIAL_HARD;
  size_t start = 0, end = 0;
  switch (Search(piece, from, options, endsLine, &start, &end)) {
    case Found::Match:
      return RegexVerdict::Hit;
    case Found::Limit:
      return RegexVerdict::TooMuchWork;
    case Found::Partial:
      // The next piece retries it when it keeps the match's start and the look back.
      return piece.size() - start + lookbehindBytes_ <= nextContext ? RegexVerdict::Miss
                                                                    : RegexVerdict::TooMuchWork;
    case Found::None:
      break;
  }
  return RegexVerdict::Miss;
}

bool RegexMatcher::NextCandidate(std::string_view lines, size_t from, bool ascii,
                                 size_t* at) const {
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

bool RegexMatcher::FirstMatch(std::string_view line, size_t* start, size_t* end) const {
  return Search(line, 0, 0, true, start, end) == Found::Match;
}

}  // namespace vorn
