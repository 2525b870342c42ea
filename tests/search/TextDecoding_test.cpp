// Legacy encodings: what the head of a file is taken for, and the reader's decoded text.
#include "TextDecoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <string_view>

#include "FileReader.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::TempTree;

// UTF-8 text in an encoding, by glibc's converter (not the one under test).
std::string Encode(std::string_view utf8, const char* encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << encoding;
  std::string out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), static_cast<size_t>(-1)) << encoding;
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string ReadAll(FileReader& reader) {
  std::string text;
  std::string_view block;
  while (reader.NextBlock(block)) text.append(block.substr(reader.Carried()));
  EXPECT_FALSE(reader.Failed());
  return text;
}

struct Sample {
  const char* text;
  const char* iconvName;
  const char* detected;  // what the detector is to name, short and long
};

TEST(TextDecoding, DetectionTableShortAndLongInEachEncoding) {
  const Sample samples[] = {
      {"Le café est très bon à Paris. L'été dernier, nous sommes allés à la plage avec nos "
       "élèves.\n",
       "WINDOWS-1252", "windows-1252"},
      {"Die Größe der Straße ist für den Verkehr ungeeignet, äußerten Müller und Schröder.\n",
       "ISO-8859-15", "windows-1252"},
      {"Шерлок Холмс сидел в своём кресле и курил трубку, Ватсон читал газету.\n", "KOI8-R",
       "KOI8-R"},
      {"Шерлок Холмс сидел в своём кресле и курил трубку, Ватсон читал газету.\n", "CP1251",
       "windows-1251"},
      {"吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。\n", "SHIFT_JIS",
       "Shift_JIS"},
      {"我们的世界是一个充满了美丽和奇迹的地方。每个人都有自己的梦想。\n", "GB18030", "GB18030"},
      {"대한민국은 민주공화국이다. 대한민국의 주권은 국민에게 있고, 모든 권력은 국민으로부터 "
       "나온다.\n",
       "EUC-KR", "EUC-KR"},
  };
  TempTree t;
  for (const Sample& s : samples) {
    for (const int times : {1, 40}) {
      const std::string utf8 = Repeat(s.text, times);
      const std::string bytes = Encode(utf8, s.iconvName);
      SCOPED_TRACE(std::string(s.iconvName) + " x" + std::to_string(times));
      EXPECT_EQ(EncodingForHead(bytes, true, kEncodingAuto), s.detected);
      // Read in blocks far smaller than the file, so characters are cut between reads.
      t.Write("f.txt", bytes);
      FileReader reader(64);
      ASSERT_TRUE(reader.Open(t.Path("f.txt")));
      EXPECT_EQ(ReadAll(reader), utf8);
      EXPECT_EQ(reader.CountLines(), static_cast<size_t>(times));
    }
  }
}

TEST(TextDecoding, NoGuessWithoutEvidenceAndTheSettingWins) {
  // Short ASCII with one byte beyond it: nothing to go on, so Windows-1252.
  for (const std::string_view text :
       {std::string_view("caf\xE9"), std::string_view("x = 1; /* \xA9 */\n"),
        std::string_view("int x = 0; /* caf\xE9 */\n"), std::string_view("Hello\xA0world\n")})
    EXPECT_EQ(EncodingForHead(text, true, kEncodingAuto), "windows-1252") << text;
  // UTF-8, a sequence cut at the end of a partial head, and binary bytes are left as they are.
  EXPECT_EQ(EncodingForHead("caf\xC3\xA9", true, kEncodingAuto), "");
  EXPECT_EQ(EncodingForHead("caf\xC3", false, kEncodingAuto), "");
  EXPECT_EQ(EncodingForHead("caf\xC3", true, kEncodingAuto), "windows-1252");
  EXPECT_EQ(EncodingForHead(std::string_view("caf\xE9\0", 5), true, kEncodingAuto), "");
  EXPECT_EQ(EncodingForHead("caf\xE9", true, kEncodingUtf8), "");
  EXPECT_EQ(EncodingForHead("caf\xC3\xA9", true, "KOI8-R"), "KOI8-R");
  EXPECT_EQ(KnownEncoding("latin1"), "ISO-8859-1");
  EXPECT_EQ(KnownEncoding("no-such-encoding"), "");

  TempTree t;
  // A file whose head is UTF-8 keeps its later bytes as they are: nothing is lost.
  const std::string mixed = std::string(kEncodingHead, 'a') + "\ncaf\xE9\n";
  t.Write("mixed.txt", mixed);
  FileReader reader;
  ASSERT_TRUE(reader.Open(t.Path("mixed.txt")));
  EXPECT_EQ(ReadAll(reader), mixed);
  EXPECT_EQ(reader.Encoding(), "");
  // With "utf-8" a Latin-1 file comes as its bytes; with a name, in that encoding.
  t.Write("latin.txt", "caf\xE9\n");
  reader.SetEncoding(kEncodingUtf8);
  ASSERT_TRUE(reader.Open(t.Path("latin.txt")));
  EXPECT_EQ(ReadAll(reader), "caf\xE9\n");
  reader.SetEncoding("KOI8-R");
  ASSERT_TRUE(reader.Open(t.Path("latin.txt")));
  EXPECT_EQ(ReadAll(reader), "cafИ\n");
  // A byte-order mark wins over the setting.
  t.Write("u16.txt", std::string("\xFF\xFEh\0i\0", 6));
  ASSERT_TRUE(reader.Open(t.Path("u16.txt")));
  EXPECT_EQ(ReadAll(reader), "hi");
}

}  // namespace
}  // namespace vorn
