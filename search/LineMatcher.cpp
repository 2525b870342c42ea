#include "LineMatcher.h"

#include <algorithm>

#include "CaseFold.h"
#include "txthandling.h"

namespace vorn {

namespace {

// Case ignored, a query whose letters have no case variants beyond ASCII's (most queries, and
// every one without "k" or "s" among its ASCII letters) is searched through the key table,
// byte for byte as fast as with case. So is one whose "k" or "s" may also be KELVIN SIGN or
// LONG S: those are looked for only where their bytes are. Any other query goes through its
// units' variants.
PatternScanner ScannerFor(const SearchOptions& options) {
  if (options.matchCase) return PatternScanner(options.query, nullptr);
  std::vector<std::vector<std::string>> units = CaseFoldedUnits(options.query);
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
  if (!longer) return PatternScanner(options.query, &keys);
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

LineMatcher::LineMatcher(const SearchOptions& options)
    : options_(options),
      scanner_(ScannerFor(options)),
      never_(options.query.empty() || options.query.find_first_of("\r\n") != std::string::npos),
      blankQuery_(Trimmed(options.query).empty()) {}

bool LineMatcher::IsHit(std::string_view line) const {
  return !never_ && !Trimmed(line).empty() && CountsIn(line, true, true);
}

bool LineMatcher::CountsIn(std::string_view text, bool startsLine, bool endsLine) const {
  return FirstMatch(text, startsLine, endsLine).Found();
}

LineMatch LineMatcher::FirstMatch(std::string_view text, bool startsLine, bool endsLine) const {
  if (never_) return {};
  // Ignoring case, an occurrence may be longer or shorter than the query ("k" finds the
  // three bytes of KELVIN SIGN): each comes with its own length.
  size_t m = 0;
  for (size_t p = scanner_.Find(text, 0, m); p != PatternScanner::npos;
       p = scanner_.Find(text, p + 1, m)) {
    if ((p == 0 && !startsLine) || (p + m == text.size() && !endsLine)) continue;
    if (!options_.wholeWord) return {p, m};
    const bool startOk = p == 0 || !IsWordByte(static_cast<unsigned char>(text[p - 1]));
    const bool endOk = p + m == text.size() || !IsWordByte(static_cast<unsigned char>(text[p + m]));
    if (startOk && endOk) return {p, m};
  }
  return {};
}

}  // namespace vorn
