// Legacy encodings: what the head of a file is taken for, and the reader's decoded text.
#include "TextDecoding.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/ustring.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FileReader.h"
#include "FileScan.h"
#include "LineMatcher.h"
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

// Single-byte encodings are decoded by a table of each byte's text: the same text as ICU's own
// converter gives for every byte, with input and output cut anywhere.
TEST(TextDecoding, SingleByteEncodingsDecodeAsIcuDoes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  all += "plain ASCII of more than eight bytes, then \xE9\xFC.";
  for (const char* name : {"windows-1252", "ISO-8859-15", "KOI8-R", "windows-1251", "ISO-8859-7",
                           "ISO-8859-1", "US-ASCII", "Shift_JIS"}) {
    SCOPED_TRACE(name);
    UErrorCode e = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name, &e);
    ASSERT_TRUE(U_SUCCESS(e));
    std::vector<UChar> units(all.size() * 2 + 8);
    const int32_t n = ucnv_toUChars(c, units.data(), static_cast<int32_t>(units.size()), all.data(),
                                    static_cast<int32_t>(all.size()), &e);
    ucnv_close(c);
    std::string want(static_cast<size_t>(n) * 3, '\0');
    int32_t made = 0;
    u_strToUTF8(want.data(), static_cast<int32_t>(want.size()), &made, units.data(), n, &e);
    ASSERT_TRUE(U_SUCCESS(e));
    want.resize(static_cast<size_t>(made));
    EXPECT_EQ(DecodeAll(all, name), want);
    // Three bytes in, at most five out at a time.
    CharsetDecoder decoder(name);
    std::string got;
    for (size_t at = 0; at < all.size() || !decoder.Idle();) {
      const std::string_view in = std::string_view(all).substr(at, 3);
      char out[5];
      size_t used = 0;
      got.append(out, decoder.Decode(in, out, sizeof out, used, at + in.size() == all.size()));
      at += used;
      ASSERT_LT(got.size(), want.size() + 8);
    }
    EXPECT_EQ(got, want);
  }
}

// Text with fewer than eight bytes beyond ASCII is taken for Windows-1252 without the
// detector: no double-byte encoding could win there, as the detector needs more than ten
// characters of two bytes to be sure of one. Ten such characters, each led by a byte beyond
// ASCII, in each of them:
TEST(TextDecoding, TheDetectorIsNotSureOfADoubleByteEncodingInTenCharacters) {
  const std::string ascii = "A line of ASCII before them, as in most files: x = y + 1;\n";
  const std::string tests[] = {Encode("アイウエオカキクケコ", "SHIFT_JIS"),
                               Encode("丂丄丅丆丏丒丗丟丠両", "GB18030"),
                               Encode("一乙丁七乃九了二人儿", "BIG5"),
                               Encode("吾輩猫名前", "EUC-JP"), Encode("대한민국은", "EUC-KR")};
  UErrorCode e = U_ZERO_ERROR;
  const std::unique_ptr<UCharsetDetector, decltype(&ucsdet_close)> d(ucsdet_open(&e),
                                                                     &ucsdet_close);
  ASSERT_TRUE(U_SUCCESS(e));
  for (const std::string& t : tests) {
    const std::string text = ascii + t + "\n";
    size_t high = 0;
    for (const char c : text) high += static_cast<unsigned char>(c) >= 0x80;
    ASSERT_LE(high, 10u);
    ucsdet_setText(d.get(), text.data(), static_cast<int32_t>(text.size()), &e);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(d.get(), &count, &e);
    ASSERT_TRUE(U_SUCCESS(e));
    for (int32_t i = 0; i < count; ++i) {
      const std::string name = ucsdet_getName(matches[i], &e);
      if (name == "Shift_JIS" || name == "EUC-JP" || name == "EUC-KR" || name == "GB18030" ||
          name == "Big5") {
        EXPECT_LT(ucsdet_getConfidence(matches[i], &e), 50) << name << " in " << t;
      }
    }
  }
}

// The hits and context lines a scan tells, as "index:text".
struct Told : FileScan::Hooks {
  std::vector<std::string> lines;
  bool Hit(size_t index, std::string_view shown, bool, std::span<const MatchRange>) override {
    lines.push_back(std::to_string(index) + ":" + std::string(shown));
    return true;
  }
  bool Context(size_t index, std::string_view shown) override {
    lines.push_back(std::to_string(index) + "-" + std::string(shown));
    return true;
  }
  bool Break() override { return true; }
  bool Passed(size_t) override { return true; }
  bool Unsearched(size_t) override { return true; }
};

// An ASCII query reads a file as its bytes until its first candidate; a file found there to
// be in a legacy encoding is searched again, decoded, whether the candidate is in the first
// block or far after the head.
TEST(TextDecoding, AnAsciiQueryFindsLegacyTextDecodedAfterItsFirstCandidate) {
  TempTree t;
  const std::string before = "Le caf\xE9 est tr\xE8s bon \xE0 Paris, l'\xE9t\xE9 dernier.\n";
  const std::string hit = "PM_RESUME pour l'\xE9l\xE8ve M\xFCller\n";
  for (const size_t lines : {size_t{1}, size_t{3000}}) {
    std::string bytes;
    for (size_t i = 0; i < lines; ++i) bytes += i % 7 == 0 ? before : "plain ascii\n";
    bytes += before + hit + "tail\n";
    t.Write("f.txt", bytes);
    for (const bool matchCase : {true, false}) {
      SearchOptions o;
      o.query = matchCase ? "PM_RESUME" : "pm_re";
      o.matchCase = matchCase;
      FileReader reader(256);
      ASSERT_TRUE(reader.Open(t.Path("f.txt")));
      Told told;
      FileScan scan(told);
      SinkWants wants;
      wants.before = 1;
      scan.SetWants(wants);
      EXPECT_EQ(scan.Run(reader, std::make_shared<const LineMatcher>(o)), FileScan::End::Done);
      EXPECT_EQ(told.lines,
                (std::vector<std::string>{
                    std::to_string(lines) + "-Le café est très bon à Paris, l'été dernier.",
                    std::to_string(lines + 1) + ":PM_RESUME pour l'élève Müller"}));
      EXPECT_EQ(reader.Encoding(), "windows-1252");
    }
  }
}

// Ignoring case, an ASCII query's k and s are also KELVIN SIGN and LONG S, which GB18030
// holds in bytes beyond ASCII: such a file's encoding is settled at its first byte beyond
// ASCII, in the first block or after many ASCII ones (within the head that decides it),
// though no candidate came before.
TEST(TextDecoding, IgnoringCaseKAndSFindTheirSignsInALegacyFile) {
  TempTree t;
  const std::string chinese = "我们的世界是一个充满了美丽和奇迹的地方。每个人都有自己的梦想。\n";
  for (const size_t lines : {size_t{0}, size_t{4000}}) {
    for (const auto& [query, hit] :
         {std::pair{"pm_resume", "PM_REſUME 世界"}, std::pair{"kernel", "the \u212Aernel 世界"}}) {
      std::string utf8;
      for (size_t i = 0; i < lines; ++i) utf8 += "plain ascii\n";
      utf8 += chinese + hit + "\n";
      t.Write("f.txt", Encode(utf8, "GB18030"));
      SearchOptions o;
      o.query = query;
      o.matchCase = false;
      FileReader reader(4096);
      ASSERT_TRUE(reader.Open(t.Path("f.txt")));
      Told told;
      FileScan scan(told);
      EXPECT_EQ(scan.Run(reader, std::make_shared<const LineMatcher>(o)), FileScan::End::Done);
      EXPECT_EQ(told.lines, std::vector<std::string>{std::to_string(lines + 1) + ":" + hit})
          << query << " after " << lines;
      EXPECT_EQ(reader.Encoding(), "GB18030");
    }
  }
  // The sign in the first bytes of the file, where the filter does not read.
  for (const char* first : {"\u212Aernel\n", "x\u212Aernel\n", "xy\u212Aernel\n"}) {
    t.Write("f.txt", Encode(first + Repeat("plain ascii\n", 100) + chinese, "GB18030"));
    SearchOptions o;
    o.query = "kernel";
    o.matchCase = false;
    FileReader reader;
    ASSERT_TRUE(reader.Open(t.Path("f.txt")));
    Told told;
    FileScan scan(told);
    EXPECT_EQ(scan.Run(reader, std::make_shared<const LineMatcher>(o)), FileScan::End::Done);
    EXPECT_EQ(told.lines.size(), 1u) << first;
  }
}

}  // namespace
}  // namespace vorn
