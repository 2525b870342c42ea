#include "vornUnit2.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>

#include "DesignPalette.h"
#include "DesignWindow.h"
#include "ErrorBox.h"
#include "Fd.h"
#include "RtfReader.h"
#include "TextBytes.h"
#include "txthandling.h"

namespace vorn {

TForm2* Form2 = nullptr;

namespace {

// Strict UTF-8: any invalid or truncated sequence counts as an error.
bool DecodeUtf8(std::string_view bytes, QString* out) {
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  *out = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return !decoder.hasError();
}

QString Latin1(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The text box breaks lines at characters the search does not: U+2028, U+2029, and U+FDD0
// and U+FDD1, which it keeps as frame marks. They show as stand-ins, one for one, so the
// lines and the positions in the text box stay those of the search.
void ShowBreakLikeCharsAsText(QString& text) {
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if (u == 0x2028)
      c = QChar(0x21B5);  // a return arrow
    else if (u == 0x2029)
      c = QChar(0x00B6);  // the pilcrow
    else if (u == 0xFDD0 || u == 0xFDD1)
      c = QChar(QChar::ReplacementCharacter);
  }
}

// The found text, decoded as the file was. The result line shows at most the first bytes of
// a long line, which may cut a UTF-8 sequence: such a cut tail is dropped.
QString DecodeNeedle(std::string_view bytes, bool utf8) {
  if (!utf8) return Latin1(bytes);
  QString out;
  for (size_t cut = 0; cut <= 3 && cut <= bytes.size(); ++cut) {
    if (DecodeUtf8(bytes.substr(0, bytes.size() - cut), &out)) {
      ShowBreakLikeCharsAsText(out);
      return out;
    }
  }
  out = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  ShowBreakLikeCharsAsText(out);
  return out;
}

enum class ReadOutcome { Ok, CannotOpen, ReadFailed };

// Reads a regular file whole. Others may go on reading it; nothing is locked. A FIFO or a
// device would block or never end, and a file over the limit is not loaded.
ReadOutcome ReadWholeFile(const std::string& path, std::string* bytes) {
  const Fd f(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!f.ok()) return ReadOutcome::CannotOpen;
  struct stat st {};
  if (fstat(f.fd(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadOutcome::CannotOpen;
  if (static_cast<unsigned long long>(st.st_size) > kViewerFileLimit)
    return ReadOutcome::CannotOpen;
  bytes->clear();
  bytes->resize(static_cast<size_t>(st.st_size) + 1);  // one more: sees a file that grew
  size_t have = 0;
  for (;;) {
    if (have == bytes->size()) {
      if (bytes->size() > kViewerFileLimit) return ReadOutcome::CannotOpen;
      bytes->resize(std::min(bytes->size() * 2, kViewerFileLimit + 1));
    }
    const ssize_t n = read(f.fd(), bytes->data() + have, bytes->size() - have);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadOutcome::ReadFailed;
    }
    have += static_cast<size_t>(n);
  }
  bytes->resize(have);
  return ReadOutcome::Ok;
}

// A status bar panel: its design width when there is room, narrower when the window is.
class StatusPanel : public QLabel {
 public:
  StatusPanel(int width, QWidget* parent) : QLabel(parent), width_(width) {
    setSizePolicy(width > 0 ? QSizePolicy::Maximum : QSizePolicy::Expanding,
                  QSizePolicy::Preferred);
  }
  QSize sizeHint() const override { return {std::max(width_, 0), QLabel::sizeHint().height()}; }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 private:
  int width_;
};

// The runtime's default date-time text: short date, a blank, the long time (without a zone).
QString DateTimeText(const QDateTime& now) {
  const QLocale locale = QLocale::system();
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  timeFormat.remove(QLatin1Char('t'));
  return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         locale.toString(now.time(), timeFormat.trimmed());
}

// A text box block costs far more to create than its characters do, so the lines of a plain
// file are grouped into blocks of up to kBlockLines lines (or about kBlockChars characters),
// separated inside a block by line separators. Each character keeps its position, and every
// line still shows as a line of its own.
constexpr int kBlockLines = 32;
constexpr int kBlockChars = 8192;

void GroupLinesIntoBlocks(QString& text) {
  int lines = 0;
  qsizetype blockStart = 0;
  QChar* data = text.data();
  const qsizetype size = text.size();
  for (qsizetype i = 0; i < size; ++i) {
    if (data[i] != QLatin1Char('\n')) continue;
    if (++lines < kBlockLines && i - blockStart < kBlockChars) {
      data[i] = QChar::LineSeparator;
    } else {
      lines = 0;
      blockStart = i + 1;
    }
  }
}

bool IsLineBreak(QChar c) { return c == QChar::LineSeparator || c == QChar::ParagraphSeparator; }

int LinesIn(const QTextBlock& block) {
  return 1 + static_cast<int>(block.text().count(QChar::LineSeparator));
}

}  // namespace

QString DecodeForViewer(std::string_view bytes, bool* isUtf8) {
  QString text;
  const bool utf8 = DecodeUtf8(bytes, &text);
  if (!utf8) text = Latin1(bytes);
  if (isUtf8) *isUtf8 = utf8;
  if (utf8) ShowBreakLikeCharsAsText(text);
  if (text.contains(QLatin1Char('\r'))) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  }
  return text;
}

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
  DressWindow(this, QStringLiteral("Form2"), QStringLiteral("Form2"));
  resize(760, 463);

  Panel1 = new QLabel(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(33);
  Panel1->setAlignment(Qt::AlignCenter);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  QFont panelFont(QStringLiteral("Arial"));
  panelFont.setStyleHint(QFont::SansSerif);
  panelFont.setBold(true);
  panelFont.setPixelSize(13);
  Panel1->setFont(panelFont);
  // The blue caption keeps its light face under any desktop palette.
  PinFace(Panel1, kLightFace);
  QPalette panelPalette = Panel1->palette();
  panelPalette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xFF));
  Panel1->setPalette(panelPalette);

  RichEdit1 = new QPlainTextEdit(this);
  RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
  RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setUndoRedoEnabled(false);
  QPalette editPalette = RichEdit1->palette();
  editPalette.setColor(QPalette::Text, Qt::black);
  editPalette.setColor(QPalette::Base, Qt::white);
  RichEdit1->setPalette(editPalette);
  RichEdit1->installEventFilter(this);
  // Line numbers are counted again after any change of the text.
  connect(RichEdit1->document(), &QTextDocument::contentsChange, this,
          [this] { lineTableStale_ = true; });

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setFixedHeight(19);
  const int widths[3] = {500, 100, 0};  // the last panel takes what is left (at least 50)
  for (int i = 0; i < 3; ++i) {
    statusPanels_[i] = new StatusPanel(widths[i], StatusBar1);
    StatusBar1->addWidget(statusPanels_[i], i == 2 ? 1 : 0);
  }
  statusPanels_[2]->setMinimumWidth(50);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(Panel1);
  layout->addWidget(RichEdit1, 1);
  layout->addWidget(StatusBar1);

  // Runs from creation on, also while the window is hidden.
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
  Timer1->start();
}

bool TForm2::LoadFile(const std::string& path, QString* shown, bool* utf8) {
  std::string bytes;
  switch (ReadWholeFile(path, &bytes)) {
    case ReadOutcome::CannotOpen:
      ShowErrorBox(this, QStringLiteral("Cannot open file %1").arg(FromBytes(path)));
      return false;
    case ReadOutcome::ReadFailed:
      ShowErrorBox(this, QStringLiteral("Failed to Load Stream"));
      return false;
    case ReadOutcome::Ok:
      break;
  }
  // A fresh cursor carries no character format of its own, so nothing of an earlier red
  // mark is handed on to the new content: plain text loads black.
  RichEdit1->setTextCursor(QTextCursor(RichEdit1->document()));
  RichEdit1->setCurrentCharFormat(QTextCharFormat());
  if (ReadRtf(bytes, *RichEdit1->document())) {
    *shown = RichEdit1->document()->toPlainText();
    *utf8 = true;
    return true;
  }
  *shown = DecodeForViewer(bytes, utf8);
  GroupLinesIntoBlocks(*shown);
  RichEdit1->setPlainText(*shown);
  return true;
}

void TForm2::ShowResultInViewer(const SearchHit& hit) {
  QString shown;
  bool utf8 = true;
  if (!LoadFile(std::string(hit.path), &shown, &utf8)) return;
  const std::string_view trimmed = Trimmed(hit.text);
  const QString needle = DecodeNeedle(trimmed, utf8);
  qsizetype found = needle.isEmpty() ? -1 : shown.indexOf(needle, 0, Qt::CaseInsensitive);
  qsizetype length = needle.size();
  if (found >= 0 && markPattern_) {
    // The pattern's first match on the line; the whole line when it lies past the shown bytes.
    size_t start = 0, end = 0;
    const size_t lead = static_cast<size_t>(trimmed.data() - hit.text.data());
    if (markPattern_->FirstMatch(hit.text, &start, &end)) {
      start = std::clamp(start, lead, lead + trimmed.size()) - lead;
      end = std::clamp(end, lead + start, lead + trimmed.size()) - lead;
      const qsizetype before = DecodeNeedle(trimmed.substr(0, start), utf8).size();
      found += before;
      length = DecodeNeedle(trimmed.substr(0, end), utf8).size() - before;
    }
  }

  // The mark is set before anything is laid out, so a long line is laid out only once.
  if (found >= 0) MarkRed(found, length);
  Panel1->setText(FromBytes(hit.path));
  // A minimised window still counts as visible: it is restored (keeping a maximised state).
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  if (!isVisible()) show();
  raise();
  activateWindow();
  RichEdit1->setFocus();
  GotoLine(RichEdit1, hit.lineIndex, 0);
  if (found >= 0) {
    QTextCursor caret(RichEdit1->document());
    caret.setPosition(static_cast<int>(found));
    RichEdit1->setTextCursor(caret);
    RichEdit1->ensureCursorVisible();
  }
}

void TForm2::SetMarkPattern(const SearchOptions& options) {
  markPattern_.reset();
  if (options.regex)
    markPattern_ =
        RegexMatcher::Compile(options.query, options.matchCase, options.wholeWord, nullptr);
}

void TForm2::MarkRed(qsizetype found, qsizetype length) {
  QTextCursor mark(RichEdit1->document());
  mark.setPosition(static_cast<int>(found));
  mark.setPosition(static_cast<int>(found + length), QTextCursor::KeepAnchor);
  QTextCharFormat red;
  red.setForeground(QColor(0xFF, 0x00, 0x00));
  mark.mergeCharFormat(red);
}

void TForm2::GotoLine(QPlainTextEdit* box, std::size_t index, int offset) {
  QTextDocument* doc = box->document();
  QTextCursor caret(doc);
  // Lines are counted here rather than taken from the layout, which resets its own counts
  // whenever it lays the text out anew.
  std::size_t first = 0;
  QTextBlock block = doc->begin();
  for (; block.isValid(); block = block.next()) {
    const auto lines = static_cast<std::size_t>(LinesIn(block));
    if (index < first + lines) break;
    first += lines;
  }
  if (block.isValid()) {
    // The line's start within its block: after the block's k-th line separator.
    const QString text = block.text();
    qsizetype start = 0;
    for (std::size_t k = index - first; k > 0; --k)
      start = text.indexOf(QChar::LineSeparator, start) + 1;
    caret.setPosition(std::clamp(block.position() + static_cast<int>(start) + offset, 0,
                                 doc->characterCount() - 1));
  } else {
    caret.movePosition(QTextCursor::End);
  }
  box->setTextCursor(caret);
  box->ensureCursorVisible();
}

int TForm2::CaretLine() {
  if (lineTableStale_) {
    lineTableStale_ = false;
    firstLines_.clear();
    int line = 0;
    for (QTextBlock block = RichEdit1->document()->begin(); block.isValid(); block = block.next()) {
      firstLines_.push_back(line);
      line += LinesIn(block);
    }
    lineCount_ = line;
  }
  const QTextCursor caret = RichEdit1->textCursor();
  const QString before = caret.block().text().left(caret.positionInBlock());
  const auto block = static_cast<size_t>(caret.blockNumber());
  return (block < firstLines_.size() ? firstLines_[block] : 0) +
         static_cast<int>(before.count(QChar::LineSeparator));
}

void TForm2::ShowLinePosition() {
  const QTextDocument* doc = RichEdit1->document();
  const int x = CaretLine();
  int y = lineCount_;
  // A final line break adds no line; an empty text has none.
  const int last = doc->characterCount() - 2;
  if (last < 0 || IsLineBreak(doc->characterAt(last))) --y;
  statusPanels_[1]->setText(QStringLiteral("Line: %1/%2").arg(x).arg(std::max(y, 0)));
}

QString TForm2::StatusPanelText(int panel) const {
  return panel >= 0 && panel < 3 ? statusPanels_[panel]->text() : QString();
}

void TForm2::RichEdit1KeyPress() { ShowLinePosition(); }

void TForm2::RichEdit1Enter() { ShowLinePosition(); }

void TForm2::Timer1Timer() {
  statusPanels_[2]->setText(DateTimeText(QDateTime::currentDateTime()));
  ShowLinePosition();
}

bool TForm2::RichEdit1KeyDown(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) return false;
  close();
  return true;
}

void TForm2::FormKeyDown(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) close();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (watched == RichEdit1) {
    if (event->type() == QEvent::FocusIn) {
      RichEdit1Enter();
    } else if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (RichEdit1KeyDown(key)) return true;
      // A character key: the readout shows the position before the key takes effect.
      if (!key->text().isEmpty() && key->text().front().isPrint()) RichEdit1KeyPress();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
  FormKeyDown(event);
  if (event->key() != Qt::Key_Escape) QWidget::keyPressEvent(event);
}

void TForm2::showEvent(QShowEvent* event) {
  // Centred over the main window the first time; later showings keep where it was left.
  if (!placed_) {
    placed_ = true;
    const QWidget* over = parentWidget() ? parentWidget()->window() : QApplication::activeWindow();
    if (over == this) over = nullptr;
    const QRect area =
        over ? over->frameGeometry()
             : (screen() ? screen()->availableGeometry() : QRect(0, 0, width(), height()));
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  QWidget::showEvent(event);
}

}  // namespace vorn
