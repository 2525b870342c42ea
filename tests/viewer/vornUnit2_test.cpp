#include "vornUnit2.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <vector>

#include "ErrorBox.h"
#include "LineBreaks.h"
#include "ScopedSeam.h"
#include "TempTree.h"
#include "TextBytes.h"

namespace vorn {
namespace {

using test::ScopedSeam;

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override { form_ = std::make_unique<TForm2>(); }

  void Show(const std::string& relative, size_t line, const std::string& text) {
    form_->ShowResultInViewer({tree_.Path(relative), line, text});
  }
  QTextDocument* Doc() const { return form_->RichEdit1->document(); }
  int Caret() const { return form_->RichEdit1->textCursor().position(); }
  QColor ColorAt(int position) const {
    QTextCursor c(Doc());
    c.setPosition(position + 1);  // the format of the character before the cursor
    return c.charFormat().foreground().color();
  }
  // Positions of the characters shown in red.
  std::vector<int> RedPositions() const {
    std::vector<int> red;
    for (int p = 0; p + 1 < Doc()->characterCount(); ++p)
      if (Doc()->characterAt(p) != QChar::ParagraphSeparator && ColorAt(p) == QColor(Qt::red))
        red.push_back(p);
    return red;
  }
  std::vector<int> Range(int from, int count) const {
    std::vector<int> r;
    for (int i = 0; i < count; ++i) r.push_back(from + i);
    return r;
  }

  test::TempTree tree_;
  std::unique_ptr<TForm2> form_;
  std::vector<QString> errors_;
  ScopedSeam<ErrorBoxShower> errorBoxes_{
      SetErrorBoxShower, [this](QWidget*, const QString& text) { errors_.push_back(text); }};
};

// The mark, the caret and "Line: x/y" are those of the row clicked: the text on the hit's own
// line, whatever occurs before or after it; elsewhere only where that line does not hold it.
TEST_F(ViewerTest, LandsOnTheHitsLineIgnoringCaseBeforeAnyEarlierOccurrence) {
  tree_.Write("a (1): b.txt", "one\nzz Hello World zz\nthree\nhello world\nHELLO WORLD\n");
  tree_.Write("latin1.txt", "caf\xE9 x\ncaf\xE9 x\n");
  tree_.Write("doc.rtf", "{\\rtf1\\ansi find one\\line find two\\par}");
  struct Case {
    const char* file;
    size_t line;
    const char* text;
    int at, length;
    const char* readout;
  };
  const Case cases[] = {
      {"a (1): b.txt", 3, "  HELLO WORLD ", 28, 11, "Line: 3/5"},  // repeated before and after
      {"a (1): b.txt", 1, "hello world", 7, 11, "Line: 1/5"},
      {"a (1): b.txt", 2, "hello world", 7, 11, "Line: 1/5"},   // not on its line: the first
      {"a (1): b.txt", 99, "hello world", 7, 11, "Line: 1/5"},  // past the end
      {"latin1.txt", 1, "caf\xC3\xA9", 7, 4, "Line: 1/2"},      // decoded, as its row shows it
      {"doc.rtf", 5, "find", 0, 4, "Line: 0/2"},  // the shown lines are not the raw ones
  };
  for (const Case& c : cases) {
    Show(c.file, c.line, c.text);
    EXPECT_EQ(RedPositions(), Range(c.at, c.length)) << c.file << " " << c.line;
    EXPECT_EQ(Caret(), c.at) << c.file << " " << c.line;
    form_->ShowLinePosition();
    EXPECT_EQ(form_->StatusPanelText(1), QString::fromUtf8(c.readout)) << c.file << " " << c.line;
  }
  Show("a (1): b.txt", 3, "  HELLO WORLD ");
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->Panel1->text(), FromBytes(tree_.Path("a (1): b.txt")));
  EXPECT_FALSE(form_->RichEdit1->textCursor().hasSelection());
  EXPECT_TRUE(errors_.empty());

  // A second hand-off reloads in place: the earlier mark is gone, the new one is set.
  Show("a (1): b.txt", 0, "ONE");
  EXPECT_EQ(RedPositions(), Range(0, 3));
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 0/5"));

  // Every occurrence of the query is highlighted; F3 and Shift+F3 go round them.
  SearchOptions query;
  query.query = "hello";
  form_->SetMarkPattern(query);
  QApplication::processEvents();
  EXPECT_EQ(form_->HighlightedOccurrences().size(), 3u);
  QTest::keyClick(form_->RichEdit1, Qt::Key_F3);
  EXPECT_EQ(Caret(), 7);
  QTest::keyClick(form_->RichEdit1, Qt::Key_F3);
  EXPECT_EQ(Caret(), 28);
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 3/5"));
  QTest::keyClick(form_->RichEdit1, Qt::Key_F3);
  QTest::keyClick(form_->RichEdit1, Qt::Key_F3);  // round past the end
  EXPECT_EQ(Caret(), 7);
  QTest::keyClick(form_->RichEdit1, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(Caret(), 40);
  EXPECT_EQ(ColorAt(10), QColor(Qt::black));
}

// The hit stands about a third from the top, not on the bottom edge; across, the mark is in
// view, also deep in a long single line.
TEST_F(ViewerTest, TheHitsLineStandsAThirdDownWithTheMarkInView) {
  std::string lines;
  for (int i = 0; i < 400; ++i) lines += "line " + std::to_string(i) + "\n";
  tree_.Write("many.txt", lines);
  form_->resize(760, 463);
  Show("many.txt", 300, "line 300");
  QApplication::processEvents();
  QPlainTextEdit* box = form_->RichEdit1;
  const int height = box->viewport()->height();
  EXPECT_GT(box->cursorRect().top(), height / 5);
  EXPECT_LT(box->cursorRect().top(), height / 2);
  EXPECT_EQ(box->horizontalScrollBar()->value(), 0);

  tree_.Write("wide.txt", std::string(200000, 'a') + " needle " + std::string(100000, 'b'));
  Show("wide.txt", 0, "needle");
  QApplication::processEvents();
  EXPECT_GT(box->horizontalScrollBar()->value(), 0);
  EXPECT_GE(box->cursorRect().left(), 0);
  EXPECT_LT(box->cursorRect().right(), box->viewport()->width());
}

TEST_F(ViewerTest, LineBreaksOfEveryKindKeepPositionsAndLineCounts) {
  tree_.Write("crlf.txt", "x\r\ny\rz HIT\r\nlast");
  Show("crlf.txt", 2, "hit");
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("x\ny\nz HIT\nlast"));
  EXPECT_EQ(RedPositions(), Range(6, 3));
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 2/4"));

  tree_.Write("empty.txt", "");
  Show("empty.txt", 0, "x");
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 0/0"));

  tree_.Write("trailing.txt", "a\nb\n");
  Show("trailing.txt", 0, "a");
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 0/2"));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(ViewerTest, LinesOfALargeFileKeepTheirNumbersAndPositions) {
  // Enough lines, some very long, that the text box holds many lines per block.
  std::string text;
  std::vector<int> starts;
  for (int i = 0; i < 1000; ++i) {
    starts.push_back(static_cast<int>(text.size()));
    text += "line " + std::to_string(i);
    if (i % 97 == 5) text += std::string(9000, 'x');
    text += i % 3 ? "\n" : "\r\n";
  }
  std::string expected;  // what the text box shows: every break as LF
  for (char c : text)
    if (c != '\r') expected += c;
  starts.clear();
  for (size_t i = 0, line = 0; i < expected.size(); ++line) {
    starts.push_back(static_cast<int>(i));
    i = expected.find('\n', i) + 1;
  }
  // Shown, a long line is cut into display pieces, a block break before each.
  std::vector<int> shown;
  int pieces = 0;
  for (size_t line = 0; line < starts.size(); ++line) {
    shown.push_back(starts[line] + pieces);
    const size_t end =
        line + 1 < starts.size() ? static_cast<size_t>(starts[line + 1]) - 1 : expected.size() - 1;
    const auto length = static_cast<int>(end - static_cast<size_t>(starts[line]));
    if (length > 0) pieces += (length - 1) / static_cast<int>(kViewerPieceChars);
  }
  ASSERT_GT(pieces, 0);
  tree_.Write("big.txt", text);
  Show("big.txt", 999, "LINE 998");
  // Laid out anew at another size: line numbers must not depend on the layout.
  form_->resize(700, 400);
  QApplication::processEvents();
  EXPECT_TRUE(form_->FileText().toStdString() == expected);
  EXPECT_EQ(RedPositions(), Range(shown[998], 8));
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 998/1000"));
  for (int line : {0, 1, 5, 6, 31, 32, 33, 63, 64, 102, 103, 500, 998, 999}) {
    TForm2::GotoLine(form_->RichEdit1, static_cast<size_t>(line), 0);
    EXPECT_EQ(Caret(), shown[static_cast<size_t>(line)]) << line;
    form_->ShowLinePosition();
    EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: %1/1000").arg(line)) << line;
  }
  // Inside a long line's later piece, the readout still names the line.
  TForm2::GotoLine(form_->RichEdit1, 5, 0);
  QTextCursor inPiece = form_->RichEdit1->textCursor();
  inPiece.setPosition(shown[5] + 3 * static_cast<int>(kViewerPieceChars));
  form_->RichEdit1->setTextCursor(inPiece);
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 5/1000"));
  TForm2::GotoLine(form_->RichEdit1, 1000, 0);
  EXPECT_EQ(Caret(), static_cast<int>(expected.size()) + pieces);
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 1000/1000"));

  // The line count follows edits: a new line typed in the middle counts.
  TForm2::GotoLine(form_->RichEdit1, 40, 0);
  QTest::keyClick(form_->RichEdit1, Qt::Key_Return);
  form_->ShowLinePosition();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 41/1001"));
}

// A large file shows first the part around the caret and takes the rest in slices: the
// readout is the file's from the first moment, and neither the view, the caret, the mark nor
// a key typed meanwhile moves off its text as the rest arrives before and after it.
TEST_F(ViewerTest, ALargeFileArrivesInSlicesAroundTheCaret) {
  ScopedSeam<qsizetype> firstPart(SetViewerFirstChars, 4000);
  std::string text, expected;
  for (int i = 0; i < 20000; ++i) {
    std::string line = "line " + std::to_string(i) + (i == 12000 ? " the Needle" : " of words");
    if (i % 997 == 3) line += std::string(3000, 'x');
    text += line + (i % 2 ? "\r\n" : "\n");
    expected += line + "\n";
  }
  tree_.Write("large.txt", text);
  const auto next = [this](int chars) {
    QTextCursor c = form_->RichEdit1->textCursor();
    c.setPosition(c.position() + chars, QTextCursor::KeepAnchor);
    return c.selectedText();
  };
  for (const bool marked : {true, false}) {
    Show("large.txt", marked ? 12000 : 15000, marked ? "THE NEEDLE" : "NOT THERE");
    ASSERT_TRUE(form_->Loading());
    const QString at = marked ? QStringLiteral("the Needle") : QStringLiteral("line 15000 ");
    const QString readout = QStringLiteral("Line: %1/20000").arg(marked ? 12000 : 15000);
    EXPECT_EQ(next(static_cast<int>(at.size())), at);
    form_->ShowLinePosition();
    EXPECT_EQ(form_->StatusPanelText(1), readout);
    if (!marked) QTest::keyClicks(form_->RichEdit1, QStringLiteral("ab"));
    const QString top = form_->RichEdit1->cursorForPosition(QPoint(2, 2)).block().text();
    form_->LoadRest();
    EXPECT_FALSE(form_->Loading());
    EXPECT_EQ(form_->RichEdit1->cursorForPosition(QPoint(2, 2)).block().text().toStdString(),
              top.toStdString());
    EXPECT_EQ(next(static_cast<int>(at.size())), at);
    form_->ShowLinePosition();
    EXPECT_EQ(form_->StatusPanelText(1), readout);
    if (marked) {
      EXPECT_EQ(ColorAt(Caret()), QColor(Qt::red));
      EXPECT_EQ(ColorAt(Caret() + 9), QColor(Qt::red));
      EXPECT_EQ(ColorAt(Caret() + 10), QColor(Qt::black));
      EXPECT_TRUE(form_->FileText().toStdString() == expected);
    } else {
      std::string typed = expected;
      typed.insert(typed.find("line 15000 "), "ab");
      EXPECT_TRUE(form_->FileText().toStdString() == typed);
    }
  }
  // Select All reaches the whole file: the rest comes in first.
  Show("large.txt", 12000, "THE NEEDLE");
  ASSERT_TRUE(form_->Loading());
  QTest::keyClick(form_->RichEdit1, Qt::Key_A, Qt::ControlModifier);
  EXPECT_FALSE(form_->Loading());
  EXPECT_EQ(form_->RichEdit1->textCursor().selectedText().size(),
            form_->RichEdit1->document()->characterCount() - 1);
  EXPECT_TRUE(form_->FileText().toStdString() == expected);
}

// Characters that break lines for the text box but not for the search (and some that break
// neither): the viewer's lines, readout and caret must be the search's, line for line.
TEST_F(ViewerTest, LinesAreTheSearchsLinesInAUnicodeFile) {
  const std::string file =
      "l0 ls\u2028ps\u2029end\r\nl1 \uFDD0frame\uFDD1 \x0B\x0C\u0085\rl2 \uFFFC\u200B\nl3 "
      "\xF0\x9F\x98\x80 "
      "\u2028\nl4 last";
  tree_.Write("unicode.txt", file);
  const size_t lines = LineCount(file);
  ASSERT_EQ(lines, 5u);
  const char* p = file.data();
  const char* const end = p + file.size();
  for (size_t line = 0; line < lines; ++line) {
    const char* stop = FindNextBreak(p, end);
    const std::string text(p, stop);
    Show("unicode.txt", line, text);
    form_->ShowLinePosition();
    EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: %1/%2").arg(line).arg(lines))
        << line;
    EXPECT_EQ(RedPositions().size(), QString::fromStdString(text).size()) << line;
    // From the line's start to the next break, as the text box holds it: the whole line.
    TForm2::GotoLine(form_->RichEdit1, line, 0);
    const QString raw = Doc()->toRawText();
    qsizetype stopAt = Caret();
    while (stopAt < raw.size() && raw[stopAt] != QChar::LineSeparator &&
           raw[stopAt] != QChar::ParagraphSeparator)
      ++stopAt;
    EXPECT_EQ(stopAt - Caret(), QString::fromStdString(text).size()) << line;
    p = stop < end ? SkipBreak(stop, end) : end;
  }
}

// A UTF-16 file shows its text, its lines the search's: the mark, the caret and "Line: x/y"
// fall on the line the search found, given as the search shows it (UTF-8). A last odd byte
// shows as U+FFFD; a UTF-8 mark shows as nothing, also on bytes that are not UTF-8.
TEST_F(ViewerTest, Utf16FilesShowTheirTextOnTheSearchsLines) {
  for (bool bigEndian : {false, true}) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : std::u16string(u"one\r\ntwo Stra\u00DFe\rthree \U0001F600 four\n")) {
      bytes += static_cast<char>(bigEndian ? u >> 8 : u & 0xFF);
      bytes += static_cast<char>(bigEndian ? u & 0xFF : u >> 8);
    }
    tree_.Write("u16.txt", bytes + "A");
    Show("u16.txt", 2, "three \xF0\x9F\x98\x80 four");
    EXPECT_EQ(Doc()->toPlainText(),
              QStringLiteral("one\ntwo Stra\u00DFe\nthree \U0001F600 four\n\uFFFD"));
    EXPECT_EQ(RedPositions(), Range(15, 13));
    EXPECT_EQ(Caret(), 15);
    form_->ShowLinePosition();
    EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 2/4"));
  }
  tree_.Write("mark.txt",
              "\xEF\xBB\xBF"
              "caf\xE9\n");
  Show("mark.txt", 0, "caf\xE9");
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("caf\u00E9\n"));
  EXPECT_EQ(RedPositions(), Range(0, 4));
}

// A hand-off to a minimised viewer restores it; a maximised one stays maximised.
TEST_F(ViewerTest, AMinimisedViewerComesBackRestored) {
  tree_.Write("f.txt", "alpha\n");
  Show("f.txt", 0, "alpha");
  form_->showMinimized();
  ASSERT_TRUE(form_->isMinimized());
  Show("f.txt", 0, "alpha");
  EXPECT_FALSE(form_->isMinimized());
  EXPECT_TRUE(form_->isVisible());
  form_->setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
  Show("f.txt", 0, "alpha");
  EXPECT_EQ(form_->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized),
            Qt::WindowMaximized);
}

TEST_F(ViewerTest, TextNotFoundOrEmptyLeavesTheCaretOnTheHitsLineUnmarked) {
  tree_.Write("f.txt", "alpha\nbeta\ngamma\n");
  Show("f.txt", 2, "DELTA");
  EXPECT_TRUE(RedPositions().empty());
  EXPECT_EQ(Caret(), 11);
  Show("f.txt", 1, "  \t ");
  EXPECT_TRUE(RedPositions().empty());
  EXPECT_EQ(Caret(), 6);
  // A line beyond the last puts the caret at the end.
  Show("f.txt", 99, "nothing");
  EXPECT_EQ(Caret(), Doc()->characterCount() - 1);
  EXPECT_TRUE(errors_.empty());
  EXPECT_TRUE(form_->isVisible());
}

// The mark follows the search's rule for case: Unicode's folding where the file is UTF-8,
// ASCII letters only where it is not.
TEST_F(ViewerTest, TheMarkIgnoresCaseAsTheSearchDoes) {
  tree_.Write("greek.txt",
              "\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x8C\xCE\xA3 "
              "\xE2\x84\xAA\n\xCF\x83\xCE\xBF\xCF\x86\xCF\x8C\xCF\x82 k\n");
  Show("greek.txt", 0, "\xCF\x83\xCE\xBF\xCF\x86\xCF\x8C\xCF\x82 k");  // "σοφός k" finds "ΣΟΦΌΣ K"
  EXPECT_EQ(RedPositions(), Range(0, 7));
  tree_.Write("latin1.txt", "CAF\xC9\ncaf\xE9\n");
  // Decoded, as Automatic reads it, the Latin-1 text folds as UTF-8 does: "CAFÉ" on line 0 is
  // found for the hit on line 0, "café" for the one on line 1.
  Show("latin1.txt", 0, "caf\xC3\xA9");
  EXPECT_EQ(RedPositions(), Range(0, 4));
  Show("latin1.txt", 1, "caf\xC3\xA9");
  EXPECT_EQ(RedPositions(), Range(5, 4));
  SearchOptions bytes;  // searched as its bytes, only ASCII letters fold
  bytes.encoding = "utf-8";
  form_->SetMarkPattern(bytes);
  Show("latin1.txt", 1, "caf\xE9");
  EXPECT_EQ(RedPositions(), Range(5, 4));
}

// The mark is looked for in the file's bytes, its place given in the shown text: a dropped
// byte order mark, characters of several bytes or two UTF-16 units, CR LF and stand-ins
// before it, a match longer in bytes than the found text, Latin-1, and a found text holding a
// stand-in (found as the shown text has it) must all land where the shown text has it.
TEST_F(ViewerTest, TheMarkFoundInTheBytesLandsOnTheShownText) {
  const struct {
    std::string bytes, found;
    int position, length;
  } cases[] = {
      {"\xEF\xBB\xBF\xC3\xA9\xF0\x9F\x98\x80 ab\r\n\xE2\x80\xA8 x\r\n\xE2\x84\xAA\xE2\x84\xAA "
       "ok\r\n",
       "KK OK", 11, 5},
      {"\xE9t\xE9\r\n\r\nABC \xC9t\xE9\r\nabc \xE9T\xE9\n", "ABC \xE9t\xE9", 13, 7},
      {"x\xE2\x80\xA8 c \xE2\x86\xB5 c\n", "\xE2\x86\xB5 c", 1, 3},
  };
  SearchOptions bytes;  // the Latin-1 case as a search of the bytes found it
  bytes.encoding = "utf-8";
  form_->SetMarkPattern(bytes);
  for (const auto& c : cases) {
    tree_.Write("f.txt", c.bytes);
    Show("f.txt", 0, c.found);
    EXPECT_EQ(RedPositions(), Range(c.position, c.length)) << c.found;
    EXPECT_EQ(Caret(), c.position) << c.found;
  }
}

TEST_F(ViewerTest, BytesThatAreNotUtf8ShowAsLatin1AndACutSequenceStillFinds) {
  // Searched as bytes, the found text is the file's own bytes.
  SearchOptions bytes;
  bytes.encoding = "utf-8";
  form_->SetMarkPattern(bytes);
  tree_.Write("latin1.txt", "x\ncaf\xE9 au lait\n");
  Show("latin1.txt", 1, "CAF\xE9");
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("x\ncaf\u00E9 au lait\n"));
  EXPECT_EQ(RedPositions(), Range(2, 4));
  // Searched in Automatic, it is the decoded text: a KOI8-R file shows as Cyrillic.
  form_->SetMarkPattern(SearchOptions{});
  tree_.Write("koi8.txt",
              "x\n\xFB\xC5\xD2\xCC\xCF\xCB \xE8\xCF\xCC\xCD\xD3 \xD3\xC9\xC4\xC5\xCC "
              "\xD7 \xCB\xD2\xC5\xD3\xCC\xC5\n");
  Show("koi8.txt", 1, "\xD0\xA5\xD0\xBE\xD0\xBB\xD0\xBC\xD1\x81");
  EXPECT_EQ(Doc()->toPlainText(),
            QStringLiteral("x\n\u0428\u0435\u0440\u043B\u043E\u043A \u0425\u043E\u043B\u043C"
                           "\u0441 \u0441\u0438\u0434\u0435\u043B \u0432 \u043A\u0440\u0435"
                           "\u0441\u043B\u0435\n"));
  EXPECT_EQ(RedPositions(), Range(9, 5));

  // The result line keeps only the first bytes of a long line, which may cut a sequence.
  tree_.Write("utf8.txt", "\xEF\xBB\xBFna\xC3\xAFve \xE2\x82\xAC 5\n");
  Show("utf8.txt", 0, "NA\xC3\xAFVE \xE2\x82");
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("na\u00EFve \u20AC 5\n"));
  EXPECT_EQ(RedPositions(), Range(0, 6));
}

TEST_F(ViewerTest, AFileThatCannotBeOpenedReportsAndKeepsTheOldContent) {
  tree_.Write("good.txt", "kept text\n");
  Show("good.txt", 0, "kept");
  ASSERT_TRUE(errors_.empty());

  Show("missing.txt", 0, "x");
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], QStringLiteral("Cannot open file ") + FromBytes(tree_.Path("missing.txt")) +
                            QStringLiteral("."));
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("kept text\n"));
  EXPECT_EQ(form_->Panel1->text(), FromBytes(tree_.Path("good.txt")));

  // A FIFO would block and a directory has no text; neither hangs nor loads.
  tree_.Fifo("fifo");
  tree_.MakeDir("dir");
  Show("fifo", 0, "x");
  Show("dir", 0, "x");
  // Too large to show: refused before anything is read (a sparse file costs no disk).
  {
    const std::string big = tree_.Path("big.txt");
    const int fd = open(big.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kViewerFileLimit) + 1), 0);
    close(fd);
  }
  Show("big.txt", 0, "x");
  ASSERT_EQ(errors_.size(), 4u);
  EXPECT_TRUE(errors_[1].startsWith(QStringLiteral("Cannot open file ")));
  EXPECT_EQ(errors_[3], QStringLiteral("Cannot open file ") + FromBytes(tree_.Path("big.txt")) +
                            QStringLiteral(": it is 256.0 MB, larger than the 256 MB the viewer "
                                           "shows."));
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("kept text\n"));

  // Opened but unreadable: /proc/self/mem fails with EIO at offset 0.
  if (const int fd = open("/proc/self/mem", O_RDONLY); fd >= 0) {
    close(fd);
    form_->ShowResultInViewer({"/proc/self/mem", 0, "x"});
    ASSERT_EQ(errors_.size(), 5u);
    EXPECT_EQ(errors_[4], QStringLiteral("Failed to Load Stream."));
    EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("kept text\n"));
  }

  // A hidden viewer stays hidden when the hand-off fails.
  form_->hide();
  Show("missing.txt", 0, "x");
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(ViewerTest, RichTextIsShownFormatted) {
  tree_.Write("doc.rtf",
              "{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red0\\green128\\blue0;}"
              "\\f0\\fs20 Plain \\b bold\\b0  and \\cf1 green\\cf0\\par Second FIND me\\par}");
  Show("doc.rtf", 1, "find");
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("Plain bold and green\nSecond FIND me\n"));
  QTextCursor c(Doc());
  c.setPosition(8);
  EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
  c.setPosition(3);
  EXPECT_NE(c.charFormat().fontWeight(), QFont::Bold);
  EXPECT_EQ(ColorAt(15), QColor(0, 128, 0));
  EXPECT_EQ(RedPositions(), Range(28, 4));
}

TEST_F(ViewerTest, EscapeHidesFromTheTextAndFromTheWindow) {
  tree_.Write("f.txt", "text\n");
  Show("f.txt", 0, "text");
  ASSERT_TRUE(form_->isVisible());
  QTest::keyClick(form_->RichEdit1, Qt::Key_Escape);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("text\n"));  // hidden, not cleared

  Show("f.txt", 0, "text");
  ASSERT_TRUE(form_->isVisible());
  QTest::keyClick(form_.get(), Qt::Key_Escape);
  EXPECT_FALSE(form_->isVisible());

  // Other keys reach the text box, which stays editable; Alt with a letter types nothing.
  Show("f.txt", 0, "text");
  QTest::keyClick(form_->RichEdit1, Qt::Key_F, Qt::AltModifier);
  QTest::keyClick(form_->RichEdit1, Qt::Key_X);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(Doc()->toPlainText(), QStringLiteral("xtext\n"));
}

TEST_F(ViewerTest, ClockAndLinePositionFillTheStatusBar) {
  tree_.Write("f.txt", "a\nb\nc");
  Show("f.txt", 2, "c");
  form_->Timer1Timer();
  EXPECT_EQ(form_->StatusPanelText(1), QStringLiteral("Line: 2/3"));
  EXPECT_FALSE(form_->StatusPanelText(2).isEmpty());
  EXPECT_TRUE(form_->StatusPanelText(0).isEmpty());
  EXPECT_TRUE(form_->Timer1->isActive());
  EXPECT_EQ(form_->Timer1->interval(), 1000);
  // The readout of a file of millions of lines, in a large font, is shown whole, not cut at
  // the panel's design width.
  QLabel* readout = form_->StatusBar1->findChildren<QLabel*>().at(1);
  QFont large = readout->font();
  large.setPixelSize(40);
  readout->setFont(large);
  readout->setText(QStringLiteral("Line: 4355270/4355320"));
  QApplication::processEvents();
  ASSERT_GT(readout->QLabel::sizeHint().width(), 100);
  EXPECT_GE(readout->width(), readout->QLabel::sizeHint().width());
}

// A name shows as the characters it is made of, in the header and its tooltip: no markup,
// stand-ins for control bytes and bytes that are not UTF-8; a long path never widens the
// window.
TEST_F(ViewerTest, TheHeaderShowsThePathAsPlainTextAndNeverWidensTheWindow) {
  const struct {
    std::string name;
    QString shown;
  } cases[] = {
      {"a&lt;b.txt", QStringLiteral("a&lt;b.txt")},
      {"a<b>c.txt", QStringLiteral("a<b>c.txt")},
      {"<font color=red size=7>BIG", QStringLiteral("<font color=red size=7>BIG")},
      {"<img src=x.png>", QStringLiteral("<img src=x.png>")},
      {"caf\xE9 \x1B[1m\x7F.txt", QStringLiteral("caf\uFFFD \u241B[1m\u2421.txt")},
  };
  const QString root = FromBytes(tree_.root());
  for (const auto& c : cases) {
    tree_.Write(c.name, "x\n");
    Show(c.name, 0, "x");
    EXPECT_EQ(form_->Panel1->text(), root + c.shown) << c.name;
    EXPECT_EQ(form_->Panel1->textFormat(), Qt::PlainText);
    QTextDocument tip;
    tip.setHtml(form_->Panel1->toolTip());
    EXPECT_EQ(tip.toPlainText().remove(QChar(0x200B)), root + c.shown) << c.name;
    EXPECT_EQ(form_->windowTitle(), QStringLiteral("Form2"));
  }
  EXPECT_TRUE(errors_.empty());

  // A path of over 500 bytes.
  std::string deep;
  for (int i = 0; i < 10; ++i) deep += std::string(48, static_cast<char>('a' + i)) + "/";
  tree_.Write(deep + "file.txt", "x\n");
  form_->resize(760, 463);
  Show(deep + "file.txt", 0, "x");
  QApplication::processEvents();
  EXPECT_EQ(form_->width(), 760);
  EXPECT_LT(form_->minimumSizeHint().width(), 760);
  EXPECT_EQ(form_->Panel1->text(), FromBytes(tree_.Path(deep + "file.txt")));
}

// A dropped file opens as a result does, named by any local form of its address; anything
// else is refused, never inserted as text, and nothing is ever taken as a move.
TEST_F(ViewerTest, DropsOpenLocalFilesAndNeverMove) {
  tree_.Write("shown.txt", "shown\n");
  tree_.Write("dropped file.txt", "dropped\n");
  tree_.Write("caf\xE9.txt", "latin\n");
  tree_.MakeDir("folder");
  const std::string root = tree_.root();
  const Qt::DropActions copyOrMove = Qt::CopyAction | Qt::MoveAction;
  const struct {
    std::string address;
    Qt::DropActions offered;
    const char* opens;  // the text then shown, or nullptr when refused
  } cases[] = {
      {"file://" + root + "dropped%20file.txt", copyOrMove, "dropped\n"},
      {"file://localhost" + root + "dropped%20file.txt", copyOrMove, "dropped\n"},
      {"file://" + root + "caf%E9.txt", copyOrMove, "latin\n"},
      {"file://" + root + "dropped%20file.txt", Qt::MoveAction, nullptr},
      {"file://elsewhere.example" + root + "dropped%20file.txt", copyOrMove, nullptr},
      {"https://example.org/dropped.txt", copyOrMove, nullptr},
      {"file://" + root + "folder", copyOrMove, nullptr},
      {"file://" + root + "missing.txt", copyOrMove, nullptr},
  };
  QWidget* target = form_->RichEdit1->viewport();
  for (const auto& c : cases) {
    Show("shown.txt", 0, "shown");
    QMimeData data;
    data.setUrls({QUrl::fromEncoded(QByteArray::fromStdString(c.address))});
    data.setText(QString::fromStdString(c.address));
    QDragEnterEvent enter(QPoint(5, 5), c.offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPoint(5, 5), c.offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QApplication::processEvents();  // the file opens once the drop has returned
    EXPECT_EQ(enter.isAccepted(), c.opens != nullptr) << c.address;
    EXPECT_NE(drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction, Qt::MoveAction)
        << c.address;
    EXPECT_EQ(form_->FileText(), QString::fromUtf8(c.opens ? c.opens : "shown\n")) << c.address;
  }
  EXPECT_TRUE(errors_.empty());

  // Text dragged from elsewhere goes in as a copy.
  Show("shown.txt", 0, "shown");
  QMimeData text;
  text.setText(QStringLiteral("typed "));
  QDragEnterEvent enter(QPoint(1, 1), copyOrMove, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPoint(1, 1), copyOrMove, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
  EXPECT_TRUE(form_->FileText().contains(QStringLiteral("typed ")));
}

TEST(ErrorBox, TextGetsAFullStopOnlyAfterCharactersSortingAfterIt) {
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Failed to Load Stream")),
            QStringLiteral("Failed to Load Stream."));
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Done.")), QStringLiteral("Done."));
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Path /a/b/")), QStringLiteral("Path /a/b/."));
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Value -")), QStringLiteral("Value -"));
  EXPECT_EQ(ErrorBoxText(QString()), QString());
}

}  // namespace
}  // namespace vorn
