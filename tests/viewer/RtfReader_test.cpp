#include "RtfReader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <set>
#include <string>
#include <tuple>

namespace vorn {
namespace {

QTextCharFormat FormatAt(QTextDocument& doc, int position) {
  QTextCursor c(&doc);
  c.setPosition(position + 1);
  return c.charFormat();
}

TEST(RtfReader, TextEscapesAndSkippedDestinations) {
  QTextDocument doc;
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil Times;}}"
      "{\\*\\generator Writer 1.0;}{\\info{\\title Secret}{\\author Someone}}"
      "{\\stylesheet{\\s0 Normal;}}"
      "caf\\'e9 \\'80 \\u8364?\\uc2\\u8364xy!\\uc1  \\{br\\}aces\\\\\\line"
      " a\\tab b\\par\n"
      "{\\pict\\wmetafile8 0123456789abcdef}{\\*\\unknown hidden}"
      "{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}\r\n"
      "\\bin3 {}\\ after\\par}trailing ignored";
  ASSERT_TRUE(ReadRtf(rtf, doc));
  EXPECT_EQ(doc.toPlainText().toStdString(),
            QStringLiteral("caf\u00E9 \u20AC \u20AC\u20AC! {br}aces\\\na\tb\nlink after\n")
                .toStdString());
}

TEST(RtfReader, GroupsRestoreTheLookAndTablesGiveFontsColoursAndSizes) {
  QTextDocument doc;
  const std::string rtf =
      "{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f1{\\*\\panose 0}Courier New;}}"
      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
      "\\f0\\fs24 n{\\b\\i\\ul\\f1\\fs40\\cf2\\highlight1 X}n\\b B\\plain P}";
  ASSERT_TRUE(ReadRtf(rtf, doc));
  ASSERT_EQ(doc.toPlainText(), QStringLiteral("nXnBP"));
  const QTextCharFormat n = FormatAt(doc, 0), x = FormatAt(doc, 1), after = FormatAt(doc, 2);
  EXPECT_NE(n.fontWeight(), QFont::Bold);
  EXPECT_EQ(n.fontPointSize(), 12.0);
  EXPECT_EQ(n.fontFamilies().toStringList(), QStringList{QStringLiteral("Arial")});
  EXPECT_EQ(x.fontWeight(), QFont::Bold);
  EXPECT_TRUE(x.fontItalic());
  EXPECT_TRUE(x.fontUnderline());
  EXPECT_EQ(x.fontPointSize(), 20.0);
  EXPECT_EQ(x.fontFamilies().toStringList(), QStringList{QStringLiteral("Courier New")});
  EXPECT_EQ(x.foreground().color(), QColor(0, 0, 255));
  EXPECT_EQ(x.background().color(), QColor(255, 0, 0));
  EXPECT_NE(after.fontWeight(), QFont::Bold);  // the group's end restores
  EXPECT_FALSE(after.fontItalic());
  EXPECT_EQ(after.foreground().color(), QColor(Qt::black));
  EXPECT_EQ(FormatAt(doc, 3).fontWeight(), QFont::Bold);
  EXPECT_NE(FormatAt(doc, 4).fontWeight(), QFont::Bold);  // \plain
}

TEST(RtfReader, NotRtfLeavesTheDocumentAndDamagedRtfShowsWhatItCan) {
  QTextDocument doc;
  doc.setPlainText(QStringLiteral("before"));
  EXPECT_FALSE(ReadRtf("plain text {\\rtf1 not at the start}", doc));
  EXPECT_FALSE(ReadRtf("", doc));
  EXPECT_FALSE(ReadRtf("{\\rt", doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("before"));

  // Cut short, unbalanced, stray closing groups, an escape at the very end, deep nesting.
  EXPECT_TRUE(ReadRtf("{\\rtf1 {{{\\b cut", doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("cut"));
  EXPECT_TRUE(ReadRtf("{\\rtf1 a\\'4", doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("a4"));
  EXPECT_TRUE(ReadRtf("{\\rtf1 a\\", doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("a"));
  EXPECT_TRUE(ReadRtf("{\\rtf1 \\bin999999 xyz", doc));
  EXPECT_EQ(doc.toPlainText(), QString());
  EXPECT_TRUE(ReadRtf("{\\rtf1 \\u-4064?\\fs99999999999999999999 big\\colortbl;\\red999;}", doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("\uF020big"));
  std::string deep = "{\\rtf1 ";
  deep += std::string(100000, '{') + "deep" + std::string(100000, '}') + "}";
  EXPECT_TRUE(ReadRtf(deep, doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("deep"));
}

TEST(RtfReader, FillsADocumentWithThePlainLayoutLineByLine) {
  QTextDocument doc;
  doc.setDocumentLayout(new QPlainTextDocumentLayout(&doc));
  ASSERT_TRUE(ReadRtf("{\\rtf1 one\\par two\\line three\\par}", doc));
  EXPECT_EQ(doc.blockCount(), 4);
  EXPECT_EQ(doc.findBlockByNumber(2).text(), QStringLiteral("three"));
}

// Damaged files in the wild: every cut and many byte changes of a real-looking file must
// read without a crash (the sanitizer build checks memory) and keep the document usable.
TEST(RtfReader, SurvivesCutAndCorruptedInput) {
  const std::string sample =
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Courier;}{\\f2\\fcharset128 "
      "J;}}"
      "{\\colortbl;\\red255\\green0\\blue0;}{\\*\\generator W;}\\uc1"
      "\\f0\\fs20 a\\'e9\\u8364?{\\b\\cf1 b\\par}\\bin2 xy{\\pict 00ff}\\tab "
      "c\\line\\~\\-d\\par\\f2 \\'93\\'fa\\'83e}";
  QTextDocument doc;
  for (size_t cut = 5; cut <= sample.size(); ++cut)
    ASSERT_TRUE(ReadRtf(sample.substr(0, cut), doc));
  const char replacements[] = {'{', '}', '\\', '\'', '-', '9', ' ', ';', '\0', '\xff'};
  unsigned seed = 7;
  for (int round = 0; round < 3000; ++round) {
    std::string damaged = sample;
    for (int k = 0; k < 3; ++k) {
      seed = seed * 1103515245u + 12345u;
      const size_t at = 5 + (seed >> 8) % (damaged.size() - 5);
      damaged[at] = replacements[(seed >> 20) % sizeof replacements];
    }
    ASSERT_TRUE(ReadRtf(damaged, doc));
    ASSERT_GE(doc.characterCount(), 1);
  }
}

// Bytes are read in the code page of the current font, else of the document; Windows-1252
// stays the fallback. A double-byte character's trail byte may be an escape or a plain byte.
TEST(RtfReader, ReadsTextInTheCodePagesOfTheDocumentAndItsFonts) {
  struct Case {
    const char* rtf;
    const char* text;
  } cases[] = {
      {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}", "Привет"},
      {"{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset0 Arial;}}\\f0 \\'cf\\'f0\\'e8}", "При"},
      {"{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset0 A;}{\\f1\\fcharset161 B;}{\\f2\\fcharset238 C;}}"
       "\\f0 caf\\'e9 \\f1 \\'c3\\'e5\\'e9\\'dc {\\f2 \\'a3\\'f3d\\'9f} \\'e1}",
       "café Γειά Łódź α"},
      {"{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fcharset128 \\'82\\'6c\\'82\\'72 "
       "Mincho;}}"
       "\\'93\\'fa\\'96\\'7b\\'83e\\'83X\\'83g \\uc2\\u26085\\'93\\'fa}",
       "日本テスト 日"},
      {"{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset0\\cpg1251 A;}}\\f0 \\'e0}", "а"},
      {"{\\rtf1\\ansi\\ansicpg99999 \\'e9\\'80}", "é€"},
      {"{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset128 J;}}\\f0 a\\'82}", "a‚"},  // a cut pair
      {"{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Calibri;}{\\f1\\fnil\\fcharset2 "
       "Symbol;}}"
       "\\pard{\\pntext\\f0 1.\\tab}{\\*\\pn\\pnlvlbody\\pnf0\\pndec{\\pntxta.}}\\f0 Apples\\par"
       "{\\pntext\\f0 2.\\tab}Pears\\par"
       "\\pard{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1{\\pntxtb\\'B7}}Dot\\par}",
       "1.\tApples\n2.\tPears\n•\tDot\n"},
  };
  for (const Case& c : cases) {
    QTextDocument doc;
    ASSERT_TRUE(ReadRtf(c.rtf, doc));
    EXPECT_EQ(doc.toPlainText().toStdString(), std::string(c.text)) << c.rtf;
  }
  // A symbol font's bullet is drawn by an ordinary font: the symbol font would not draw it.
  QTextDocument doc;
  ASSERT_TRUE(ReadRtf("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Symbol;}}\\f1\\'b7}", doc));
  EXPECT_TRUE(FormatAt(doc, 0).fontFamilies().toStringList().isEmpty());
}

// Crafted files: thousands of sizes and families end in a bounded number of fonts and runs, and
// groups nested millions deep cost no memory per level.
TEST(RtfReader, CraftedInputStaysBounded) {
  std::string rtf = "{\\rtf1{\\fonttbl";
  for (int f = 0; f < 2000; ++f)
    rtf += "{\\f" + std::to_string(f) + " Family" + std::to_string(f) + ";}";
  rtf += "}\\fs99999 big";
  for (int i = 0; i < 6000; ++i)
    rtf += "\\f" + std::to_string(i % 2000) + "\\fs" + std::to_string(2 + i * 37 % 9000) +
           (i % 3 ? "\\b" : "\\b0") + " x";
  rtf += "}";
  QTextDocument doc;
  ASSERT_TRUE(ReadRtf(rtf, doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("big") + QString(6000, QLatin1Char('x')));
  std::set<std::tuple<QStringList, double, int>> fonts;
  double largest = 0;
  int runs = 0;
  for (auto it = doc.begin().begin(); !it.atEnd(); ++it, ++runs) {
    const QTextCharFormat f = it.fragment().charFormat();
    fonts.emplace(f.fontFamilies().toStringList(), f.fontPointSize(), f.fontWeight());
    largest = std::max(largest, f.fontPointSize());
  }
  EXPECT_LE(fonts.size(), 48u);
  EXPECT_LE(runs, 1025);  // the layout takes a paragraph's runs at once
  EXPECT_EQ(largest, 1638.0);

  const auto peakKb = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
  };
  const long before = peakKb();
  // Millions of colour and font table entries cost no memory per entry either.
  std::string deep = "{\\rtf1{\\colortbl" + std::string(4'000'000, ';') + "}{\\fonttbl";
  for (int f = 0; f < 1'000'000; ++f) deep += "\\f" + std::to_string(f) + " a;";
  deep += "}a";
  const size_t levels = 3'000'000;
  deep += std::string(levels, '{') + "{\\*\\hidden no}b\\b c" + std::string(levels, '}') + "d}";
  ASSERT_TRUE(ReadRtf(deep, doc));
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("abcd"));
#if !defined(__SANITIZE_ADDRESS__)  // its quarantine keeps freed memory resident
  EXPECT_LT(peakKb() - before, 64 * 1024) << "kB more at the peak";
#else
  (void)before;
#endif
}

}  // namespace
}  // namespace vorn
