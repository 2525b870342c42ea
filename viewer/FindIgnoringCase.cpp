#include "FindIgnoringCase.h"

#include <algorithm>
#include <vector>

#include "CaseFold.h"

namespace vorn {

namespace {

// The code point at i, and its length in UTF-16 units; a lone surrogate stands for itself.
char32_t CodePointAt(QStringView text, qsizetype i, qsizetype* units) {
  const QChar c = text[i];
  if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
    *units = 2;
    return QChar::surrogateToUcs4(c, text[i + 1]);
  }
  *units = 1;
  return c.unicode();
}

char32_t AsciiFold(char32_t c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

}  // namespace

qsizetype FindIgnoringCase(QStringView text, QStringView needle, bool utf8, qsizetype* length) {
  const auto fold = [utf8](char32_t c) { return utf8 ? SimpleFold(c) : AsciiFold(c); };
  std::vector<char32_t> folded;
  for (qsizetype i = 0, units = 0; i < needle.size(); i += units)
    folded.push_back(fold(CodePointAt(needle, i, &units)));
  if (folded.empty()) return -1;
  // The UTF-16 units an occurrence may begin with: a cheap test before the letters are folded.
  std::vector<char16_t> leads;
  qsizetype firstUnits = 0;
  const char32_t first = CodePointAt(needle, 0, &firstUnits);
  std::vector<char32_t> variants{AsciiFold(first)};
  if (utf8)
    variants = CaseVariants(first);
  else if (variants[0] >= 'a' && variants[0] <= 'z')
    variants.push_back(variants[0] - 32);
  for (const char32_t v : variants)
    leads.push_back(QChar::requiresSurrogates(v) ? QChar::highSurrogate(v)
                                                 : static_cast<char16_t>(v));
  for (qsizetype start = 0; start < text.size(); ++start) {
    if (std::find(leads.begin(), leads.end(), text[start].unicode()) == leads.end()) continue;
    qsizetype at = start;
    size_t k = 0;
    for (qsizetype units = 0; k < folded.size() && at < text.size(); ++k, at += units)
      if (fold(CodePointAt(text, at, &units)) != folded[k]) break;
    if (k == folded.size()) {
      *length = at - start;
      return start;
    }
  }
  return -1;
}

}  // namespace vorn
