#include "TextBytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vorn {
namespace {

// Any bytes go to the window's text and back unchanged; valid UTF-8 reads as its characters
// and every other byte as a stand-in of its own.
TEST(TextBytes, EveryByteStringComesBackUnchanged) {
  const struct {
    std::string bytes;
    QString text;
  } cases[] = {
      {"plain/ascii", QStringLiteral("plain/ascii")},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", QStringLiteral("caf\u00E9 \U0001F600")},
      {"caf\xE9", QString::fromUtf16(u"caf\xDCE9")},  // Latin-1
      {"\xC0\xAF\xED\xA0\x80",
       QString::fromUtf16(u"\xDCC0\xDCAF\xDCED\xDCA0\xDC80")},                // overlong, surrogate
      {"\xF4\x90\x80\x80", QString::fromUtf16(u"\xDCF4\xDC90\xDC80\xDC80")},  // beyond U+10FFFF
      {"cut \xE2\x82", QString::fromUtf16(u"cut \xDCE2\xDC82")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FromBytes(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(ToBytes(c.text), c.bytes) << c.bytes;
  }
  std::mt19937 random(23);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& b : bytes) b = static_cast<char>(random() % 4 ? 0x80 + random() % 0x80 : random());
    EXPECT_EQ(ToBytes(FromBytes(bytes)), bytes);
  }
  // What is shown: stand-ins one for one, the text itself untouched.
  EXPECT_EQ(ShownBytes(std::string("a\0b\x1B\t\x7F\xE9", 7)),
            QStringLiteral("a\u2400b\u241B\t\u2421\uFFFD"));
}

}  // namespace
}  // namespace vorn
