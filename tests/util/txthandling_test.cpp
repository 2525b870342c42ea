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

TEST(TextHelpers, GetFieldCountsEveryPieceIncludingEmptyAndLastOnes) {
  const std::string line = "C:\\Data\\notes.txt (12)  :  ALPHA IS A BETA: GAMMA";
  EXPECT_EQ(GetField(line, 1, '('), "C:\\Data\\notes.txt ");
  EXPECT_EQ(GetField(line, 3, ':'), "  ALPHA IS A BETA");
  EXPECT_EQ(GetField(line, 4, ':'), " GAMMA");  // the last piece is a field too
  EXPECT_EQ(GetField(line, 5, ':'), "");
  EXPECT_EQ(GetField("a::b", 2, ':'), "");  // two separators in a row: an empty field
  EXPECT_EQ(GetField("a::b", 3, ':'), "b");
  EXPECT_EQ(GetField("abc", 1, ':'), "abc");
  EXPECT_EQ(GetField("abc:", 2, ':'), "");
  EXPECT_EQ(GetField("abc:", 3, ':'), "");
  EXPECT_EQ(GetField("", 1, ':'), "");
  EXPECT_EQ(GetField("a:b", 0, ':'), "");
  EXPECT_EQ(GetField("a:b", -1, ':'), "");
}

TEST(TextHelpers, TextBetweenTakesTheFirstOpenAndTheFirstClose) {
  EXPECT_EQ(TextBetween("x (12) y", '(', ')'), "12");
  EXPECT_EQ(TextBetween("a (b) (c)", '(', ')'), "b");
  EXPECT_EQ(TextBetween("a ((b))", '(', ')'), "(b");
  EXPECT_EQ(TextBetween("a () b", '(', ')'), "");   // nothing between
  EXPECT_EQ(TextBetween("a ) (b)", '(', ')'), "");  // first close before the first open
  EXPECT_EQ(TextBetween("a (b", '(', ')'), "");
  EXPECT_EQ(TextBetween("a b)", '(', ')'), "");
  EXPECT_EQ(TextBetween("", '(', ')'), "");
}

TEST(TextHelpers, ReplaceCharReplacesEveryOccurrenceAndKeepsOtherBytes) {
  EXPECT_EQ(ReplaceChar("A;BB;\tC;", ';', ' '), "A BB \tC ");
  EXPECT_EQ(ReplaceChar(std::string_view("a\0b\0", 4), '\0', '-'), "a-b-");
  EXPECT_EQ(ReplaceChar("", 'a', 'b'), "");
}

}  // namespace
}  // namespace vorn
