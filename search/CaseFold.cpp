#include "CaseFold.h"

#include <unicode/uchar.h>
#include <unicode/uset.h>

#include <algorithm>
#include <utility>

namespace vorn {

namespace {

// Every (folded form, code point) pair where the two differ, sorted; made once. Only the code
// points ICU counts as case-sensitive can fold, so the few hundred ranges of those are walked
// rather than the whole code space.
const std::vector<std::pair<char32_t, char32_t>>& FoldPairs() {
  static const std::vector<std::pair<char32_t, char32_t>> pairs = [] {
    std::vector<std::pair<char32_t, char32_t>> out;
    UErrorCode error = U_ZERO_ERROR;
    USet* set = uset_openEmpty();
    uset_applyIntPropertyValue(set, UCHAR_CASE_SENSITIVE, 1, &error);
    const int32_t ranges = U_SUCCESS(error) ? uset_getItemCount(set) : 0;
    for (int32_t i = 0; i < ranges; ++i) {
      UChar32 first = 0, last = -1;
      if (uset_getItem(set, i, &first, &last, nullptr, 0, &error) != 0) continue;  // a string
      for (UChar32 c = first; c <= last; ++c) {
        const auto folded = static_cast<char32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT));
        if (folded != static_cast<char32_t>(c)) out.emplace_back(folded, static_cast<char32_t>(c));
      }
    }
    uset_close(set);
    std::sort(out.begin(), out.end());
    return out;
  }();
  return pairs;
}

}  // namespace

char32_t SimpleFold(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

std::vector<char32_t> CaseVariants(char32_t c) {
  const char32_t folded = SimpleFold(c);
  std::vector<char32_t> out{folded};
  const auto& pairs = FoldPairs();
  auto it = std::lower_bound(pairs.begin(), pairs.end(), std::make_pair(folded, char32_t{0}));
  for (; it != pairs.end() && it->first == folded; ++it) out.push_back(it->second);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::vector<std::string>> CaseFoldedUnits(std::string_view query) {
  std::vector<std::vector<std::string>> units;
  while (!query.empty()) {
    char32_t c = 0;
    const size_t length = DecodeUtf8At(query, c);
    auto& forms = units.emplace_back();
    if (length == 0) {
      forms.emplace_back(query.substr(0, 1));
      query.remove_prefix(1);
      continue;
    }
    for (const char32_t variant : CaseVariants(c)) AppendUtf8(forms.emplace_back(), variant);
    query.remove_prefix(length);
  }
  return units;
}

}  // namespace vorn
