#include "RtfReader.h"

#include <gtest/gtest.h>

#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <string>

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
            QStringLiteral("caf\u00E9 \u20AC \u20AC\u20AC! {br}aces\\\na\tb\nlink after\n").toStdString());
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
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Courier;}}"
      "{\\colortbl;\\red255\\green0\\blue0;}{\\*\\generator W;}\\uc1"
      "\\f0\\fs20 a\\'e9\\u8364?{\\b\\cf1 b\\par}\\bin2 xy{\\pict 00ff}\\tab c\\line\\~\\-d\\par}";
  QTextDocument doc;
  for (size_t cut = 5; cut <= sample.size(); ++cut) ASSERT_TRUE(ReadRtf(sample.substr(0, cut), doc));
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

}  // namespace
}  // namespace vorn
