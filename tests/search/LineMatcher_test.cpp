#include "LineMatcher.h"

#include <gtest/gtest.h>

#include "CasePairs.h"

namespace vorn {
namespace {

bool Hit(std::string_view query, std::string_view line, bool wholeWord, bool matchCase = true) {
  return LineMatcher(SearchOptions{std::string(query), wholeWord, matchCase}).IsHit(line);
}

TEST(LineMatcher, WholeWordTakesAnyOccurrenceBetweenNonWordBytes) {
  for (const char* line : {"foo bar", "bar foo", "a foo b", "bar foo.", "foo", "foo,bar",
                           "bar foo..", "xfoo foo", "\tfoo\t", "(foo)", "a-foo"})
    EXPECT_TRUE(Hit("foo", line, true)) << line;
  for (const char* line : {"food bar", "xfoo", "foo_bar", "foo1",
                           "\xC3\xA9"
                           "foo",
                           "foofoo"})
    EXPECT_FALSE(Hit("foo", line, true)) << line;
  EXPECT_FALSE(Hit("aa", "aaa", true));  // overlapping occurrences are each tried, none fits
  EXPECT_TRUE(Hit("aa", "aaa aa", true));
  EXPECT_FALSE(Hit("", "a  b", true));
  EXPECT_FALSE(Hit("", "abc", false));
}

TEST(LineMatcher, CaseBlankLinesAndLineBreaksInTheQuery) {
  EXPECT_TRUE(Hit("hello", "Say Hello", false, false));
  EXPECT_FALSE(Hit("hello", "Say Hello", false, true));
  EXPECT_TRUE(Hit("HELLO", "say hello", true, false));
  EXPECT_FALSE(Hit(" ", "   \t ", false));  // a blank line is never a hit
  EXPECT_TRUE(Hit(" ", " x ", false));
  EXPECT_TRUE(Hit("foo ", "foo bar", false));
  EXPECT_FALSE(Hit("foo ", "bar foo", false));  // the query is taken untrimmed
  EXPECT_FALSE(Hit("a\nb", "a\nb", false));
  EXPECT_TRUE(LineMatcher(SearchOptions{"a\rb", false, false}).NeverHits());
  EXPECT_TRUE(Hit(std::string_view("a\0b", 3), std::string_view("xa\0b", 4), false));
}

TEST(LineMatcher, LettersBeyondAsciiByTheirCaseFolding) {
  for (const test::CasePair& c : test::CasePairs()) {
    EXPECT_EQ(Hit(c.query, c.line, false, false), c.hitIgnoringCase) << c.query << " / " << c.line;
    EXPECT_EQ(Hit(c.query, c.line, false, true), c.hitMatchingCase) << c.query << " / " << c.line;
  }
  // Whole Word looks at the bytes around the occurrence, however long it is.
  EXPECT_TRUE(Hit("k", "a \u212A b", true, false));
  EXPECT_FALSE(Hit("k", "x\u212A", true, false));
  EXPECT_TRUE(Hit("\u017Fa", "x sa", true, false));
  EXPECT_FALSE(Hit("\u017Fa", "xsa", true, false));
  // The first match comes with its own length, for the printer's mark and column.
  const LineMatch kelvin = LineMatcher(SearchOptions{"ok", false, false}).FirstMatch("xo\u212A");
  EXPECT_EQ(kelvin.at, 1u);
  EXPECT_EQ(kelvin.size, 4u);
}

}  // namespace
}  // namespace vorn
