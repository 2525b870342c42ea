#include "LineMatcher.h"

#include <unicode/uchar.h>

#include <algorithm>

#include "CaseFold.h"
#include "Utf8.h"
#include "txthandling.h"

namespace vorn {

namespace {

// In a piece of a long line, an occurrence this near a cut is left to the neighbouring piece,
// which sees the whole characters around it (a UTF-8 character takes up to four bytes).
constexpr size_t kWordMargin = 4;
// Pieces repeat this much more than the longest occurrence, so every occurrence lies far
// enough from the cuts in some piece.
constexpr size_t kPieceOverlapExtra = 2 * kWordMargin;

bool IsWordCodePoint(char32_t c) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) &
          (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK | U_GC_PC_MASK)) != 0;
}

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

bool NonAsciiWordBefore(std::string_view text, size_t at) {
  size_t lead = at - 1;
  for (int back = 0;
       back < 3 && lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80; ++back)
    --lead;
  char32_t c = 0;
  const size_t length = DecodeUtf8At(text.substr(lead, at - lead), c);
  return length != at - lead || IsWordCodePoint(c);
}

bool NonAsciiWordAt(std::string_view text, size_t at) {
  char32_t c = 0;
  return DecodeUtf8At(text.substr(at), c) == 0 || IsWordCodePoint(c);
}

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

size_t LineMatcher::Overlap() const { return scanner_.size() + kPieceOverlapExtra; }

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
  // three bytes of KELVIN SIGN): each comes with its own length. In a piece, occurrences near
  // a cut are the neighbouring piece's.
  const size_t margin = wholeWord_ ? kWordMargin : 1;
  const size_t first = startsLine ? 0 : margin;
  size_t m = 0;
  for (size_t p = scanner_.Find(text, first, m); p != PatternScanner::npos;
       p = scanner_.Find(text, p + 1, m)) {
    if (!endsLine && p + m + margin > text.size()) continue;
    if (!wholeWord_ || StandsWhole(text, p, p + m)) return {p, m};
  }
  return {};
}

size_t LineMatcher::Matches(std::string_view line, std::vector<MatchRange>& out, size_t beginBefore,
                            size_t from) const {
  if (never_) return 0;
  if (regex_) return regex_->Matches(line, out, beginBefore);
  const size_t before = out.size();
  size_t m = 0;
  for (size_t p = scanner_.Find(line, from, m); p < beginBefore && p != PatternScanner::npos;) {
    if (!wholeWord_ || StandsWhole(line, p, p + m)) {
      out.push_back({p, p + m});
      p = scanner_.Find(line, p + std::max<size_t>(m, 1), m);
    } else {
      p = scanner_.Find(line, p + 1, m);
    }
  }
  return out.size() - before;
}

}  // namespace vorn
