#include "txthandling.h"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(TextHelpers, RemoveCharHasSubstringTrimAndAsciiUpper) {
  EXPECT_EQ(RemoveChar("**a*b*", '*'), "ab");
  EXPECT_EQ(RemoveChar("", '*'), "");
  EXPECT_FALSE(HasSubstring("abc", ""));
  EXPECT_FALSE(HasSubstring("", "a"));
  EXPECT_FALSE(HasSubstring("ab", "abc"));
  EXPECT_TRUE(HasSubstring("abc", "bc"));
  EXPECT_FALSE(HasSubstring("abc", "BC"));
  EXPECT_EQ(Trimmed(std::string_view("\t \x01x y\r\n ", 9)), "x y");
  EXPECT_EQ(Trimmed(" \t "), "");
  EXPECT_EQ(AsciiUpperCase("say h\xC3\xA9llo_1"), "SAY H\xC3\xA9LLO_1");
}

}  // namespace
}  // namespace vorn
