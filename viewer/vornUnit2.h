// The file viewer window: shows one found file with the found text marked red and the caret
// on it, the caret's line position and a clock in the status bar. One window, created at
// start-up, hidden until the first hand-off and reused for every later one.
#pragma once

#include <QString>
#include <QStringView>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "LineMatcher.h"
#include "SearchHit.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QStatusBar;
class QTextBlock;
class QTimer;

namespace vorn {

// Files above this size are refused rather than loaded whole.
inline constexpr std::size_t kViewerFileLimit = std::size_t{256} << 20;

// Where the red mark goes: a position and a length in the text shown, lines broken at LF
// (or the line separators that group lines into blocks); position -1 when there is none.
struct MarkSpan {
  qsizetype position = -1;
  qsizetype length = 0;
};

// A plain-text file longer than this many characters reaches the text box in parts: first
// the part around where the caret goes, about this long, then the rest in slices while the
// window takes input. Returns the value it replaced (a seam for tests).
qsizetype SetViewerFirstChars(qsizetype chars);

// A line longer than this is shown in display pieces of this many characters, one text box
// block each, so no block is ever too long to lay out at every key press. The pieces still
// count as one line.
inline constexpr qsizetype kViewerPieceChars = 1024;

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  // The hand-off from the result list: loads the hit's file (RTF formatted, anything else as
  // plain text), shows the window (restored when minimised) and brings it to the front, puts the
  // caret on the hit's line and then on the first occurrence of the found text (letter case
  // ignored), which is marked red. When the text is empty or does not occur, the caret stays at the
  // start of the hit's line and nothing is marked. A file that cannot be opened (or is over
  // kViewerFileLimit) gives "Cannot open file %s" in the error box and changes nothing.
  void ShowResultInViewer(const SearchHit& hit);

  // With the regular expression option, the mark is the pattern's first match on the hit's
  // line instead of the line's text; other options clear it. Every occurrence of the query
  // (or the pattern) in the text is highlighted, and F3 and Shift+F3 move the caret to the
  // next and previous one. Files are read as the options say the search reads them: in their
  // encoding, and compressed files and archive members (ARCHIVE//MEMBER) as their content.
  void SetMarkPattern(const SearchOptions& options);

  // The caret to the next (or previous) occurrence of the query, round past the end; false
  // when there is none.
  bool GoToOccurrence(bool forward);
  // The highlighted occurrences in and around the part of the text shown, as positions and
  // lengths in the text box.
  std::vector<MarkSpan> HighlightedOccurrences() const;

  // Caret at the first character of the 0-based line plus offset, scrolled into view; a line
  // beyond the last puts it at the end.
  static void GotoLine(QPlainTextEdit* box, std::size_t index, int offset);

  // "Line: x/y" into status panel 1: the caret's 0-based line and the number of lines (a
  // final line break adds none).
  void ShowLinePosition();

  // The text of status panel 0, 1 or 2.
  QString StatusPanelText(int panel) const;

  // The text shown, as the file's lines: the display pieces of a long line joined again.
  QString FileText() const;

  // Whether part of a large file is still to come into the text box; LoadRest brings it now.
  bool Loading() const { return pending_ != nullptr; }
  void LoadRest();

  QPlainTextEdit* RichEdit1 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* Panel1 = nullptr;
  QTimer* Timer1 = nullptr;

  void RichEdit1KeyPress();
  void Timer1Timer();
  void RichEdit1Enter();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  int CaretLine();
  bool RichEdit1KeyDown(QKeyEvent* event);
  void FormKeyDown(QKeyEvent* event);
  bool ReadFile(const std::string& path, std::string* bytes);
  MarkSpan ShowBytes(std::string bytes, std::string_view line, std::size_t lineIndex);
  MarkSpan NarrowToPattern(MarkSpan mark, std::string_view line, bool utf8) const;
  struct PendingText;
  qsizetype ShowPlainText(QString text, std::vector<int> states, std::vector<qsizetype> starts,
                          qsizetype target);
  void LoadSlices();
  void LoadSlice();
  int HeadLines() const;
  void MarkRed(MarkSpan mark);
  std::vector<MarkSpan> OccurrencesIn(const QTextBlock& block) const;
  void HighlightOccurrences();
  void PlaceView();
  void TextChanged(int position, int removed, int added);
  bool DropEvent(QDropEvent* event);

  QLabel* statusPanels_[3] = {};
  std::vector<int> firstLines_;  // per block: the number of its first line
  int lineCount_ = 0;
  bool lineTableStale_ = true;
  bool loading_ = false;
  int blockCount_ = 1;  // as the last change left it
  bool placed_ = false;
  MarkSpan placeMark_;  // the last hand-off's mark, while its view is being placed
  bool placing_ = false;
  std::shared_ptr<const RegexMatcher> markPattern_;
  std::shared_ptr<const LineMatcher> occurrences_;  // the query, for the highlights and F3
  QTimer* highlighter_ = nullptr;
  std::string encoding_;
  bool packed_ = false;
  std::string dragFile_;                  // the file the drag under way would open
  std::unique_ptr<PendingText> pending_;  // what of a large file is still to come
  QTimer* loader_ = nullptr;
};

extern TForm2* Form2;

}  // namespace vorn
