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
      never_(options.query.empty() ||
             options.query.find_first_of("\r\n") != std::string::npos) {}

bool LineMatcher::IsHit(std::string_view line) const {
  if (never_ || Trimmed(line).empty()) return false;
  const size_t m = scanner_.size();
  for (size_t p = scanner_.Find(line, 0); p != PatternScanner::npos; p = scanner_.Find(line, p + 1)) {
    if (!options_.wholeWord) return true;
    const bool startOk = p == 0 || !IsWordByte(static_cast<unsigned char>(line[p - 1]));
    const bool endOk = p + m == line.size() || !IsWordByte(static_cast<unsigned char>(line[p + m]));
    if (startOk && endOk) return true;
  }
  return false;
}

}  // namespace vorn
