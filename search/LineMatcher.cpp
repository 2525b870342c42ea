#include "LineMatcher.h"

#include <algorithm>

#include "CaseFold.h"
#include "txthandling.h"

namespace vorn {

namespace {

// A match that may go on past a piece of a long line is retried in the next piece when it
// began within this many bytes of the cut.
constexpr size_t kRegexOverlap = size_t{64} << 10;

// Case ignored, a query whose letters have no case variants beyond ASCII's (most queries, and
// every one without "k" or "s" among its ASCII letters) is searched through the key table,
// byte for byte as fast as with case. So is one whose "k" or "s" may also be KELVIN SIGN or
// LONG S: those are looked for only where their bytes are. Any other query goes through its
// units' variants.
PatternScanner ScannerFor(const std::string& query, bool matchCase) {
  if (matchCase) return PatternScanner(query, nullptr);
  std::vector<std::vector<std::string>> units = CaseFoldedUnits(query);
  const KeyTable& keys = CaseInsensitiveKeys();
  // Every unit is one form, or one byte in either case and maybe longer forms besides (a
  // query of KELVIN SIGN is found as "k" is). What the key table looks for: each unit's
  // one-byte form, or its only one.
  bool longer = false;
  std::string pattern;
  const bool keyed = std::all_of(units.begin(), units.end(), [&](const auto& forms) {
    if (forms.size() == 1) {
      pattern += forms[0];
      return true;
    }
    std::vector<unsigned char> bytes;
    for (const std::string& form : forms) {
      if (form.size() == 1)
        bytes.push_back(static_cast<unsigned char>(form[0]));
      else
        longer = true;
    }
    if (!bytes.empty()) pattern += static_cast<char>(bytes[0]);
    return bytes.size() == 2 && keys[bytes[0]] == keys[bytes[1]];
  });
  if (!keyed) return PatternScanner(units);
  if (!longer) return PatternScanner(query, &keys);
  return PatternScanner(pattern, &keys, units);
}

}  // namespace

const KeyTable& CaseInsensitiveKeys() {
  static const KeyTable keys = [] {
    KeyTable k;
    for (int b = 0; b < 256; ++b)
      k[b] = static_cast<unsigned char>(AsciiUpper(static_cast<char>(b)));
    return k;
  }();
  return keys;
}

// What the scanner looks for, and whether a pattern decides its candidates. A pattern that is
// a plain literal is searched as the text is.
struct LineMatcher::Plan {
  std::string literal;
  std::shared_ptr<const RegexMatcher> regex;
  bool never = false;
  bool blank = false;

  explicit Plan(const SearchOptions& o) : literal(o.query) {
    if (o.regex) {
      const RegexLiteral required = RequiredLiteral(o.query, o.matchCase);
      literal = required.bytes;
      if (!required.plain) {
        regex = RegexMatcher::Compile(o.query, o.matchCase, o.wholeWord, nullptr, literal.empty());
        never = !regex;
        blank = true;
        return;
      }
    }
    never = literal.empty() || literal.find_first_of("\r\n") != std::string::npos;
    blank = Trimmed(literal).empty();
  }
};

LineMatcher::LineMatcher(const SearchOptions& options) : LineMatcher(options, Plan(options)) {}

// A pattern's literal holds only letters whose case partners are ASCII, so its candidates
// come from the ASCII key table; the text (and a pattern that is a plain literal) folds by
// Unicode's rule.
LineMatcher::LineMatcher(const SearchOptions& options, Plan plan)
    : options_(options),
      regex_(std::move(plan.regex)),
      scanner_(regex_ ? PatternScanner(plan.literal,
                                       options.matchCase ? nullptr : &CaseInsensitiveKeys())
                      : ScannerFor(plan.literal, options.matchCase)),
      wholeWord_(options.wholeWord && !regex_),
      never_(plan.never),
      blankQuery_(plan.blank) {}

size_t LineMatcher::Overlap() const { return regex_ ? kRegexOverlap : scanner_.size() + 1; }

bool LineMatcher::IsHit(std::string_view line) const { return Decide(line) == RegexVerdict::Hit; }

RegexVerdict LineMatcher::Decide(std::string_view line) const {
  if (never_ || Trimmed(line).empty()) return RegexVerdict::Miss;
  if (regex_) return regex_->Decide(line);
  return CountsIn(line, true, true) ? RegexVerdict::Hit : RegexVerdict::Miss;
}

bool LineMatcher::CountsIn(std::string_view text, bool startsLine, bool endsLine) const {
  return FirstMatch(text, startsLine, endsLine).Found();
}

LineMatch LineMatcher::FirstMatch(std::string_view text, bool startsLine, bool endsLine) const {
  if (never_) return {};
  if (regex_) {
    size_t start = 0, end = 0;
    if (!startsLine || !endsLine || !regex_->FirstMatch(text, &start, &end)) return {};
    return {start, end - start};
  }
  // Ignoring case, an occurrence may be longer or shorter than the query ("k" finds the
  // three bytes of KELVIN SIGN): each comes with its own length.
  size_t m = 0;
  for (size_t p = scanner_.Find(text, 0, m); p != PatternScanner::npos;
       p = scanner_.Find(text, p + 1, m)) {
    if ((p == 0 && !startsLine) || (p + m == text.size() && !endsLine)) continue;
    if (!wholeWord_) return {p, m};
    const bool startOk = p == 0 || !IsWordByte(static_cast<unsigned char>(text[p - 1]));
    const bool endOk = p + m == text.size() || !IsWordByte(static_cast<unsigned char>(text[p + m]));
    if (startOk && endOk) return {p, m};
  }
  return {};
}

size_t LineMatcher::Matches(std::string_view line, std::vector<MatchRange>& out) const {
  const size_t before = out.size();
  if (never_) return 0;
  if (regex_) {
    size_t start = 0, end = 0;
    if (regex_->FirstMatch(line, &start, &end)) out.push_back({start, end});
    return out.size() - before;
  }
  size_t m = 0;
  for (size_t p = scanner_.Find(line, 0, m); p != PatternScanner::npos;) {
    const bool whole =
        !wholeWord_ ||
        ((p == 0 || !IsWordByte(static_cast<unsigned char>(line[p - 1]))) &&
         (p + m == line.size() || !IsWordByte(static_cast<unsigned char>(line[p + m]))));
    if (whole) {
      out.push_back({p, p + m});
      p = scanner_.Find(line, p + std::max<size_t>(m, 1), m);
    } else {
      p = scanner_.Find(line, p + 1, m);
    }
  }
  return out.size() - before;
}

}  // namespace vorn
