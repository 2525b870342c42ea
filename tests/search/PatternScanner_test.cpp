#include "PatternScanner.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "CaseFold.h"
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
    std::string text(rng() % 300, 'a');  // several rounds of the 64-byte filter
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

// Decodes the text as it goes and compares letters by their folded forms: the scanner's
// units of variant byte strings, found from a stretch in the middle, must agree.
size_t DecodingFind(std::string_view text, std::string_view query, size_t from, size_t& length) {
  for (size_t p = from; p < text.size(); ++p) {
    size_t t = p, q = 0;
    for (; q < query.size(); ++t) {
      char32_t a = 0, b = 0;
      const size_t qa = DecodeUtf8At(query.substr(q), a);
      if (qa == 0) {  // a stray byte of the query matches only itself
        if (t >= text.size() || text[t] != query[q]) break;
        ++q;
        continue;
      }
      const size_t tb = DecodeUtf8At(text.substr(std::min(t, text.size())), b);
      if (tb == 0 || !SameIgnoringCase(a, b)) break;
      q += qa;
      t += tb - 1;
    }
    if (q == query.size()) {
      length = t - p;
      return p;
    }
  }
  return PatternScanner::npos;
}

TEST(PatternScanner, CaseVariantUnitsAgreeWithADecodingSearch) {
  std::mt19937 rng(19);
  // s, long s, k, KELVIN SIGN, sigma in three forms, e acute, a stray Latin-1 byte, a cut lead;
  // a long ASCII stretch, for the vector scans.
  const std::vector<std::string> tokens = {"s",        "S",
                                           "\xC5\xBF", "k",
                                           "K",        "\xE2\x84\xAA",
                                           "\xCF\x83", "\xCF\x82",
                                           "\xCE\xA3", "\xC3\xA9",
                                           "\xC3\x89", "\xE9",
                                           "\xC3",     "x",
                                           " ",        std::string(70, 'x') + "sK"};
  const auto make = [&](size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += tokens[rng() % tokens.size()];
    return out;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string text = make(rng() % 80), query = make(1 + rng() % 4);
    const size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
    size_t wantLength = 0;
    const size_t want = DecodingFind(text, query, from, wantLength);
    // The units alone, and the scanner the matcher picks (the key table first for ASCII).
    const LineMatcher matcher(SearchOptions{query, false, false});
    const PatternScanner units(CaseFoldedUnits(query));
    // In a buffer of the text's size, so the sanitizer sees a read past its end.
    const std::unique_ptr<char[]> exact(new char[text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    for (const PatternScanner* scanner : {&units, &matcher.Scanner()}) {
      size_t length = 0;
      ASSERT_EQ(scanner->Find({exact.get(), text.size()}, from, length), want) << "round " << round;
      if (want != PatternScanner::npos) {
        ASSERT_EQ(length, wantLength) << "round " << round;
      }
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
