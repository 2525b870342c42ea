// Queries and lines that letter case makes or breaks, for the engine and for vorn-find alike.
#pragma once

#include <string>
#include <vector>

namespace vorn::test {

struct CasePair {
  std::string query, line;
  bool hitIgnoringCase, hitMatchingCase;
};

inline const std::vector<CasePair>& CasePairs() {
  static const std::vector<CasePair> pairs = {
      {"шерлок", "Шерлок Холмс", true, false},  // Cyrillic
      {"école", "École normale", true, false},  // Latin-1 range
      {"ÿ", "Ÿ", true, false},                  // its capital lies outside it
      {"θεός", "ΘΕΌΣ", true, false},            // final sigma, capital sigma
      {"ΣΟΦΌΣ", "σοφός", true, false},
      {"κόσμος", "ΚΌΣΜΟΣ", true, false},
      {"kelvin", "20 \u212Aelvin", true, false},  // KELVIN SIGN, longer than its k
      {"\u212A", "ok", true, false},
      {"ſtraße", "STRASSE or Straße", true, false},  // long s; no full folding: ß is not ss
      {"straße", "STRASSE", false, false},
      {"ß", "GROSSES \u1E9E", true, false},
      {"µ", "\u039C", true, false},                 // micro sign, capital mu
      {"i", "\u0130stanbul", false, false},         // only the Turkic rules fold these
      {"caf\xE9", "CAF\xE9 au lait", true, false},  // not UTF-8: bytes compare exactly
      {"caf\xE9", "CAF\xC9", false, false},
      {"\xC3", "\xC3\xA9t\xC3\xA9", true, true},
      {"École", "École", true, true},
      {"K", "\u212A", true, false},
      // ASCII queries with k or s: their longer variants far into a line and side by side.
      {"kset_", std::string(300, '.') + " \u212A\u017FET_ty", true, false},
      {"ss", "x\u017F\u017F", true, false},
      {"sk", std::string(200, 'k') + "\u017F", false, false},
  };
  return pairs;
}

}  // namespace vorn::test
