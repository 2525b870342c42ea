#include "CaseFold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "FileMask.h"

namespace vorn {
namespace {

// The variants come from a walk over the code points ICU counts as case-sensitive; every code
// point that folds must be among the variants of what it folds to.
TEST(CaseFold, EveryCodePointThatFoldsIsAVariantOfItsFold) {
  int folding = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const char32_t folded = SimpleFold(c);
    if (folded == c) continue;
    ++folding;
    const std::vector<char32_t> variants = CaseVariants(folded);
    ASSERT_TRUE(std::binary_search(variants.begin(), variants.end(), c))
        << std::hex << static_cast<uint32_t>(c);
  }
  EXPECT_GT(folding, 1400);
  EXPECT_TRUE(CaseVariants(U'k') == (std::vector<char32_t>{U'K', U'k', U'\u212A'}));
  EXPECT_TRUE(CaseVariants(U'\u00DF') == (std::vector<char32_t>{U'\u00DF', U'\u1E9E'}));
}

// A file mask ignores case as the text search does: every letter takes each of its variants
// in a name, whatever their lengths in UTF-8; bytes that are not UTF-8 stay exact.
TEST(CaseFold, FileMasksFoldAsTheTextSearch) {
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (SimpleFold(c) == c && CaseVariants(c).size() == 1) continue;
    std::string mask = "x";
    AppendUtf8(mask, c);
    const FileMask files(mask + "?.txt");
    for (const char32_t variant : CaseVariants(c)) {
      std::string name = "X";
      AppendUtf8(name, variant);
      ASSERT_TRUE(files.TakesFile(name + "\xC3\xA9.TXT")) << std::hex << static_cast<uint32_t>(c);
    }
  }
  EXPECT_TRUE(FileMask("caf\xC3\xA9.*").TakesFile("CAF\xC3\x89"));
  EXPECT_TRUE(FileMask("*\xE9").TakesFile("caf\xE9"));
  EXPECT_FALSE(FileMask("*\xE9").TakesFile("CAF\xC9"));
}

// Only valid UTF-8 has letters: overlong forms, surrogates, code points past U+10FFFF and cut
// sequences are stray bytes.
TEST(CaseFold, DecodesOnlyValidUtf8) {
  char32_t c = 0;
  EXPECT_EQ(DecodeUtf8At("\xE2\x84\xAA!", c), 3u);
  EXPECT_TRUE(c == U'\u212A');
  EXPECT_EQ(DecodeUtf8At("\xF0\x90\x90\x80", c), 4u);
  EXPECT_TRUE(c == U'\U00010400');
  for (const char* bad : {"\xC0\x8B", "\xE0\x81\x8B", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE2\x84", "\x84", "\xC3("})
    EXPECT_EQ(DecodeUtf8At(bad, c), 0u) << bad;
  EXPECT_EQ(CaseFoldedUnits("\xC0\x8B"
                            "a")
                .size(),
            3u);
}

}  // namespace
}  // namespace vorn
