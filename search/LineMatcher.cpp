#include "LineMatcher.h"

#include "FastStrings.h"
#include "txthandling.h"

namespace vorn {

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

LineMatcher::LineMatcher(const SearchOptions& options)
    : options_(options),
      scanner_(options.query, options.matchCase ? nullptr : &CaseInsensitiveKeys()),
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
  const size_t m = scanner_.size();
  for (size_t p = scanner_.Find(text, 0); p != PatternScanner::npos;
       p = scanner_.Find(text, p + 1)) {
    if ((p == 0 && !startsLine) || (p + m == text.size() && !endsLine)) continue;
    if (!options_.wholeWord) return {p, m};
    const bool startOk = p == 0 || !IsWordByte(static_cast<unsigned char>(text[p - 1]));
    const bool endOk = p + m == text.size() || !IsWordByte(static_cast<unsigned char>(text[p + m]));
    if (startOk && endOk) return {p, m};
  }
  return {};
}

}  // namespace vorn
