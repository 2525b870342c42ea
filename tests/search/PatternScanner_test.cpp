#include "PatternScanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "LineMatcher.h"

namespace vorn {
namespace {

size_t NaiveFind(std::string_view text, std::string_view pattern, size_t from,
                 const KeyTable* keys) {
  if (pattern.empty()) return PatternScanner::npos;
  for (size_t p = from; p + pattern.size() <= text.size(); ++p) {
    size_t i = 0;
    for (; i < pattern.size(); ++i) {
      auto a = static_cast<unsigned char>(text[p + i]), b = static_cast<unsigned char>(pattern[i]);
      if (keys ? (*keys)[a] != (*keys)[b] : a != b) break;
    }
    if (i == pattern.size()) return p;
  }
  return PatternScanner::npos;
}

TEST(PatternScanner, AgreesWithNaiveSearchExactAndFolded) {
  std::mt19937 rng(11);
  const std::string alphabet = "aAbB_ \xE9\xC9\n";
  for (int round = 0; round < 2000; ++round) {
    std::string text(rng() % 120, 'a');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    std::string pattern(1 + rng() % 5, 'a');
    for (char& c : pattern) c = alphabet[rng() % alphabet.size()];
    for (const KeyTable* keys : {static_cast<const KeyTable*>(nullptr), &CaseInsensitiveKeys()}) {
      const PatternScanner scanner(pattern, keys);
      const size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
      ASSERT_EQ(scanner.Find(text, from), NaiveFind(text, pattern, from, keys))
          << "round " << round << " folded " << (keys != nullptr);
    }
  }
}

TEST(PatternScanner, EdgesOfTheText) {
  const PatternScanner s("PM_RESUME", nullptr);
  std::string text(1000, 'x');
  text.replace(991, 9, "PM_RESUME");
  EXPECT_EQ(s.Find(text, 0), 991u);
  EXPECT_EQ(s.Find(text, 992), PatternScanner::npos);
  EXPECT_EQ(s.Find(text.substr(0, 999), 0), PatternScanner::npos);
  EXPECT_EQ(PatternScanner("", nullptr).Find("abc", 0), PatternScanner::npos);
  EXPECT_EQ(PatternScanner("abc", nullptr).Find("abc", 4), PatternScanner::npos);
  EXPECT_EQ(PatternScanner("pm_resume", &CaseInsensitiveKeys()).Find(text, 0), 991u);
}

}  // namespace
}  // namespace vorn
