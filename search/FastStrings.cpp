#include "FastStrings.h"

#include <cctype>
#include <stdexcept>

namespace vorn {

namespace {

inline unsigned char Key(unsigned char b, const FoldTable* fold) { return fold ? (*fold)[b] : b; }

inline unsigned char At(std::string_view s, int64_t pos1) {
  return static_cast<unsigned char>(s[static_cast<size_t>(pos1 - 1)]);
}

}  // namespace

const FoldTable& UpperFoldTable() {
  static const FoldTable table = [] {
    FoldTable t;
    for (int b = 0; b < 256; ++b) t[b] = static_cast<unsigned char>(std::toupper(b));
    return t;
  }();
  return table;
}

void BuildShiftTable(const unsigned char* pattern, int32_t length, ShiftTable& table,
                     const FoldTable* fold) {
  if (length == 0) throw std::invalid_argument("BufferLen is 0");
  table.fill(length);
  for (int32_t j = 1; j <= length - 1; ++j) table[Key(pattern[j - 1], fold)] = length - j;
}

int32_t ScanForward(std::string_view text, std::string_view pattern, int32_t start,
                    bool caseSensitive) {
  if (start < 1) throw std::logic_error("Assertion failed: start must be 1 or more");
  const int64_t m = static_cast<int64_t>(pattern.size());
  const int64_t n = static_cast<int64_t>(text.size());
  if (m < 1 || m > n) return 0;
  const FoldTable* fold = caseSensitive ? nullptr : &UpperFoldTable();
  ShiftTable shift;
  BuildShiftTable(reinterpret_cast<const unsigned char*>(pattern.data()), static_cast<int32_t>(m),
                  shift, fold);
  for (int64_t p = start + m - 1; p <= n;) {
    int64_t k = 1;
    while (k <= m && Key(At(pattern, m + 1 - k), fold) == Key(At(text, p + 1 - k), fold)) ++k;
    if (k > m) return static_cast<int32_t>(p - m + 1);
    p += shift[Key(At(text, p), fold)];
  }
  return 0;
}

int32_t ScanBackward(std::string_view text, std::string_view pattern, int32_t start,
                     bool caseSensitive) {
  const int64_t m = static_cast<int64_t>(pattern.size());
  const int64_t n = static_cast<int64_t>(text.size());
  if (m < 1 || n < m) return 0;
  const FoldTable* fold = caseSensitive ? nullptr : &UpperFoldTable();
  const int64_t c0 = (start == 0 || start + m > n) ? n - m + 1 : start;
  for (int64_t c = c0; c >= 1; --c) {
    if (Key(At(pattern, 1), fold) != Key(At(text, c), fold)) continue;
    int64_t j = m;
    while (j >= 2 && Key(At(pattern, j), fold) == Key(At(text, c + j - 1), fold)) --j;
    if (j < 2) return static_cast<int32_t>(c);
  }
  return 0;
}

int32_t FindPattern(std::string_view pattern, std::string_view text, bool caseSensitive,
                    int32_t start, bool forward) {
  return forward ? ScanForward(text, pattern, start, caseSensitive)
                 : ScanBackward(text, pattern, start, caseSensitive);
}

}  // namespace vorn
