#include "LineMatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "CasePairs.h"
#include "ScopedSeam.h"

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

std::vector<MatchRange> Ranges(const SearchOptions& options, std::string_view line) {
  std::vector<MatchRange> out{{99, 99}};  // appended to, never cleared
  LineMatcher(options).Matches(line, out);
  out.erase(out.begin());
  return out;
}

// A pattern with Whole Word finds a line when any of its matches stands whole, whatever the
// order of its alternatives or the greed of its repeats.
TEST(LineMatcher, WholeWordPatternTriesEveryMatch) {
  const std::pair<const char*, const char*> found[] = {
      {"int|int_max", "int_max"},
      {"int_max|int", "int_max"},
      {"foo|foobar", "foobar"},
      {"a|ab", "ab"},
      {"\\w+?", "ab"},
      {"fo+", "x foo"},
  };
  for (const auto& [pattern, line] : found) {
    const SearchOptions o{pattern, true, true, true};
    EXPECT_TRUE(LineMatcher(o).IsHit(line)) << pattern;
    EXPECT_EQ(Ranges(o, line), (std::vector<MatchRange>{{line[0] == 'x' ? 2u : 0u, strlen(line)}}))
        << pattern;
  }
  EXPECT_FALSE(LineMatcher(SearchOptions{"int|int_max", true, true, true}).IsHit("int_maxx"));
  // Alternatives sharing a literal: the one that stands whole, wherever it is on the line.
  const SearchOptions spin{"spin_lock|spin_lock_irqsave", true, true, true};
  EXPECT_EQ(Ranges(spin, "spin_lock_irqsave(f)"), (std::vector<MatchRange>{{0, 17}}));
  EXPECT_EQ(Ranges(spin, "spin_lock_x spin_lock("), (std::vector<MatchRange>{{12, 21}}));
  // A repeat gives back what it took when the longer match does not stand whole.
  EXPECT_EQ(Ranges({"[a-z-]+", true, true, true}, "ab-cd_"), (std::vector<MatchRange>{{0, 2}}));
  // Settings that only work first stay first; a quote or comment left open is closed.
  EXPECT_TRUE(LineMatcher(SearchOptions{"(*UCP)a|ab", true, true, true}).IsHit("ab"));
  EXPECT_TRUE(LineMatcher(SearchOptions{"\\Qa.b", true, true, true}).IsHit("x a.b"));
  EXPECT_TRUE(LineMatcher(SearchOptions{"(?x) a b # c", true, true, true}).IsHit("x ab"));
}

// A word character is a letter, number, combining mark or connector punctuation, decoded
// from UTF-8; bytes that are not UTF-8 stay word bytes. The literal search and a pattern agree.
TEST(LineMatcher, WholeWordKnowsUnicodeWordCharacters) {
  const char* const whole[] = {"\u00ABfoo\u00BB", "foo\u2014bar", "foo\u00A0x", "\u3000foo"};
  const char* const inWord[] = {"foo\u00E9",
                                "\u00E9foo",
                                "foo\u0301",
                                "foo\u203F",
                                "\u0661foo",
                                "foo\xE9",
                                "\xFF"
                                "foo",
                                "\xE2\x82"
                                "foo"};
  // The interpreter, as the JIT, hands the word rule the whole line, invalid bytes and all.
  for (const int path : {0, 1, 2}) {
    const test::ScopedSeam<bool> jit(SetRegexJit, path != 2);
    const SearchOptions o{path ? "fo+" : "foo", true, true, path != 0};
    for (const char* line : whole) EXPECT_TRUE(LineMatcher(o).IsHit(line)) << line << path;
    for (const char* line : inWord) EXPECT_FALSE(LineMatcher(o).IsHit(line)) << line << path;
  }
}

// Every match, in order and never overlapping; a pattern's empty matches fall as a global
// substitution places them, one character on after each.
TEST(LineMatcher, MatchesOfEveryKind) {
  using R = std::vector<MatchRange>;
  EXPECT_EQ(Ranges({"aa", false, true}, "aaaaa aa"), (R{{0, 2}, {2, 4}, {6, 8}}));
  EXPECT_EQ(Ranges({"aa", true, true}, "aaa aa-aa"), (R{{4, 6}, {7, 9}}));
  EXPECT_EQ(Ranges({"k", false, false}, "K\u212Ak"), (R{{0, 1}, {1, 4}, {4, 5}}));
  EXPECT_EQ(Ranges({"\u212A", false, false}, "xk"), (R{{1, 2}}));
  EXPECT_EQ(Ranges({"a*", false, true, true}, "baaac"), (R{{0, 0}, {1, 4}, {4, 4}, {5, 5}}));
  EXPECT_EQ(Ranges({"x?", false, true, true}, "xy"), (R{{0, 1}, {1, 1}, {2, 2}}));
  EXPECT_EQ(Ranges({"(?:)", false, true, true}, "\u00E9a"), (R{{0, 0}, {2, 2}, {3, 3}}));
  EXPECT_EQ(Ranges({"\\bb\\w", false, false, true}, "ba Bb ab"), (R{{0, 2}, {3, 5}}));
  EXPECT_EQ(Ranges({"o", true, true, true}, "o o\xFFo"), (R{{0, 1}}));
  EXPECT_EQ(Ranges({"", false, true}, "abc"), R{});
}

}  // namespace
}  // namespace vorn
