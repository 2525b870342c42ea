#include "FastStrings.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vorn {
namespace {

TEST(FindPattern, ForwardExactAndFolded) {
  EXPECT_EQ(FindPattern("", "anything", true, 1, true), 0);
  EXPECT_EQ(FindPattern("abc", "ab", true, 1, true), 0);
  EXPECT_EQ(FindPattern("needle", "a needle and a needle", true, 1, true), 3);
  EXPECT_EQ(FindPattern("needle", "a needle and a needle", true, 4, true), 16);
  EXPECT_EQ(FindPattern("NEEDLE", "a Needle", false, 1, true), 3);
  EXPECT_EQ(FindPattern("NEEDLE", "a Needle", true, 1, true), 0);
  EXPECT_EQ(FindPattern("x", "abxcx", true, 1, true), 3);
  EXPECT_EQ(FindPattern("whole", "whole", true, 1, true), 1);
  EXPECT_EQ(FindPattern("abc", "abc", true, 2, true), 0);
  // The shift is taken from the text byte under the pattern's last byte.
  EXPECT_EQ(FindPattern("abcab", "xxabcabcab", true, 1, true), 3);
}

TEST(FindPattern, Backward) {
  EXPECT_EQ(FindPattern("ab", "abab", true, 0, false), 3);
  EXPECT_EQ(FindPattern("ab", "abab", true, 2, false), 1);
  EXPECT_EQ(FindPattern("ab", "abab", true, 99, false), 3);
  EXPECT_EQ(FindPattern("AB", "xabx", false, 0, false), 2);
  EXPECT_EQ(FindPattern("", "abab", true, 0, false), 0);
  EXPECT_EQ(FindPattern("abc", "ab", true, 0, false), 0);
}

TEST(FindPattern, RefusesBadArguments) {
  EXPECT_THROW(FindPattern("a", "abc", true, 0, true), std::logic_error);
  ShiftTable table;
  try {
    BuildShiftTable(reinterpret_cast<const unsigned char*>("x"), 0, table);
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "BufferLen is 0");
  }
  BuildShiftTable(reinterpret_cast<const unsigned char*>("abca"), 4, table);
  EXPECT_EQ(table['a'], 3);  // the last byte is not entered
  EXPECT_EQ(table['b'], 2);
  EXPECT_EQ(table['c'], 1);
  EXPECT_EQ(table['z'], 4);
}

TEST(UpperFoldTable, MapsLowerCaseAsciiAndKeepsHighBytesInUtf8) {
  const FoldTable& t = UpperFoldTable();
  EXPECT_EQ(t['a'], 'A');
  EXPECT_EQ(t['Z'], 'Z');
  EXPECT_EQ(t['1'], '1');
  EXPECT_EQ(t[0xE9], 0xE9);  // the tests run in the C locale: only a to z change
}

}  // namespace
}  // namespace vorn
