#include "LineBreaks.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vorn {
namespace {

size_t NaiveBreaks(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\n' || (s[i] == '\r' && !(i + 1 < s.size() && s[i + 1] == '\n'))) ++n;
  return n;
}

TEST(LineBreaks, LineCountsFollowLfCrLfAndLoneCr) {
  EXPECT_EQ(LineCount(""), 0u);
  EXPECT_EQ(LineCount("a"), 1u);
  EXPECT_EQ(LineCount("a\n"), 1u);
  EXPECT_EQ(LineCount("a\r\n"), 1u);
  EXPECT_EQ(LineCount("a\r"), 1u);
  EXPECT_EQ(LineCount("a\r\r\nb"), 3u);
  EXPECT_EQ(LineCount("\n\n"), 2u);
  EXPECT_EQ(LineCount("a\n\rb"), 3u);
}

TEST(LineBreaks, VectorPathsAgreeWithByteByByteOnRandomBuffers) {
  std::mt19937 rng(7);
  const char alphabet[] = {'a', '\n', '\r', ' ', 'x', '\0'};
  for (int round = 0; round < 300; ++round) {
    std::string s(rng() % 200, 'a');
    for (char& c : s) c = alphabet[rng() % sizeof alphabet];
    const char* b = s.data();
    const char* e = b + s.size();
    ASSERT_EQ(CountBreaks(b, e), NaiveBreaks(s)) << round;
    for (size_t at = 0; at <= s.size(); ++at) {
      size_t next = s.find_first_of("\r\n", at);
      ASSERT_EQ(FindNextBreak(b + at, e), next == std::string::npos ? e : b + next);
      const size_t last = at == 0 ? std::string::npos : s.find_last_of("\r\n", at - 1);
      ASSERT_EQ(FindLastBreak(b, b + at), last == std::string::npos ? nullptr : b + last);
    }
  }
  // Long buffers where CRs are absent, rare or everywhere: counted by LFs alone where a
  // stretch has no CR, the full way where it has.
  for (const unsigned crEvery : {0u, 9000u, 40u}) {
    std::string s(40000, 'a');
    for (char& c : s) {
      const unsigned r = rng();
      c = r % 30 == 0 ? '\n' : crEvery && r % crEvery == 1 ? '\r' : 'a';
    }
    for (int cut = 0; cut < 20; ++cut) {
      const size_t from = rng() % s.size(), to = from + rng() % (s.size() - from + 1);
      const std::string part = s.substr(from, to - from);
      ASSERT_EQ(CountBreaks(s.data() + from, s.data() + to), NaiveBreaks(part)) << crEvery;
    }
  }
}

}  // namespace
}  // namespace vorn
