#include "LineMatcher.h"

#include "FastStrings.h"
#include "txthandling.h"

namespace vorn {

namespace {

// A match that may go on past a piece of a long line is retried in the next piece when it
// began within this many bytes of the cut.
constexpr size_t kRegexOverlap = size_t{64} << 10;

// The candidates of a caseless pattern: its literal compares by ASCII case only.
const KeyTable& AsciiCaseKeys() {
  static const KeyTable keys = [] {
    KeyTable k;
    for (int b = 0; b < 256; ++b)
      k[b] = static_cast<unsigned char>(AsciiUpper(static_cast<char>(b)));
    return k;
  }();
  return keys;
}

}  // namespace

const KeyTable& CaseInsensitiveKeys() {
  static const KeyTable keys = [] {
    const FoldTable& fold = UpperFoldTable();
    KeyTable k;
    for (int b = 0; b < 256; ++b)
      k[b] = fold[static_cast<unsigned char>(AsciiUpper(static_cast<char>(b)))];
    return k;
  }();
  return keys;
}

// What the scanner looks for, and whether a pattern decides its candidates. A pattern that is
// a plain literal is searched as the text is.
struct LineMatcher::Plan {
  std::string literal;
  const KeyTable* keys = nullptr;
  std::shared_ptr<const RegexMatcher> regex;
  bool never = false;
  bool blank = false;
  bool everyLine = false;

  explicit Plan(const SearchOptions& o) : literal(o.query) {
    if (o.regex) {
      const RegexLiteral required = RequiredLiteral(o.query, o.matchCase);
      if (!required.plain) {
        regex = RegexMatcher::Compile(o.query, o.matchCase, o.wholeWord, nullptr);
        literal = required.bytes;
        keys = o.matchCase ? nullptr : &AsciiCaseKeys();
        never = !regex;
        blank = true;
        everyLine = regex && literal.empty();
        return;
      }
      literal = required.bytes;
    }
    keys = o.matchCase ? nullptr : &CaseInsensitiveKeys();
    never = literal.empty() || literal.find_first_of("\r\n") != std::string::npos;
    blank = Trimmed(literal).empty();
  }
};

LineMatcher::LineMatcher(const SearchOptions& options) : LineMatcher(options, Plan(options)) {}

LineMatcher::LineMatcher(const SearchOptions& options, Plan plan)
    : options_(options),
      regex_(std::move(plan.regex)),
      scanner_(plan.literal, plan.keys),
      wholeWord_(options.wholeWord && !regex_),
      never_(plan.never),
      blankQuery_(plan.blank),
      everyLine_(plan.everyLine) {}

size_t LineMatcher::Overlap() const { return regex_ ? kRegexOverlap : scanner_.size() + 1; }

bool LineMatcher::IsHit(std::string_view line) const {
  if (regex_) return Decide(line) == RegexVerdict::Hit;
  return !never_ && !Trimmed(line).empty() && CountsIn(line, true, true);
}

RegexVerdict LineMatcher::Decide(std::string_view line) const {
  if (never_ || Trimmed(line).empty()) return RegexVerdict::Miss;
  if (regex_) return regex_->Decide(line);
  return CountsIn(line, true, true) ? RegexVerdict::Hit : RegexVerdict::Miss;
}

bool LineMatcher::CountsIn(std::string_view text, bool startsLine, bool endsLine) const {
  if (never_) return false;
  const size_t m = scanner_.size();
  for (size_t p = scanner_.Find(text, 0); p != PatternScanner::npos;
       p = scanner_.Find(text, p + 1)) {
    if ((p == 0 && !startsLine) || (p + m == text.size() && !endsLine)) continue;
    if (!wholeWord_) return true;
    const bool startOk = p == 0 || !IsWordByte(static_cast<unsigned char>(text[p - 1]));
    const bool endOk = p + m == text.size() || !IsWordByte(static_cast<unsigned char>(text[p + m]));
    if (startOk && endOk) return true;
  }
  return false;
}

}  // namespace vorn
