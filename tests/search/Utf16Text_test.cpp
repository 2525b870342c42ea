#include "Utf16Text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace vorn {
namespace {

// Decoded in pieces, with input and output cut anywhere, the text is the one decoded at once,
// and it is valid UTF-8: no surrogate comes through.
TEST(Utf16Decoder, PiecesGiveTheWholeTextAndSurrogatesNeverPassAlone) {
  std::mt19937 rng(3);
  const unsigned char units[] = {0x00, 0x41, 0xD8, 0xDC, 0xDF, 0x20, 0x0A, 0xE9, 0xFF};
  for (int round = 0; round < 200; ++round) {
    const bool bigEndian = round % 2 == 1;
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    const size_t length = rng() % 64;
    for (size_t i = 0; i < length; ++i) bytes += static_cast<char>(units[rng() % sizeof units]);
    std::string whole;
    ASSERT_TRUE(DecodeMarkedUtf16(bytes, whole));
    Utf16Decoder decoder(bigEndian);
    std::string pieces;
    std::string_view rest = std::string_view(bytes).substr(2);
    for (bool last = false; !last || !decoder.Idle();) {
      const size_t take = std::min<size_t>(rest.size(), rng() % 5);
      last = take == rest.size();
      char out[8];
      size_t used = 0;
      const size_t made = decoder.Decode(rest.substr(0, take), out, rng() % 8, used, last);
      ASSERT_LE(used, take);
      pieces.append(out, made);
      rest.remove_prefix(used);
      last = last && used == take;
    }
    EXPECT_EQ(pieces, whole) << round;
    for (size_t i = 0; i + 1 < whole.size(); ++i)
      EXPECT_FALSE(whole[i] == '\xED' && (static_cast<unsigned char>(whole[i + 1]) & 0xE0) == 0xA0);
  }
  std::string text;
  EXPECT_FALSE(DecodeMarkedUtf16("plain", text));
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace vorn
