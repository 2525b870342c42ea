#include "vornUnit2.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDateTime>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "DesignPalette.h"
#include "DesignWindow.h"
#include "DesktopHabits.h"
#include "ErrorBox.h"
#include "Fd.h"
#include "FindIgnoringCase.h"
#include "LineBreaks.h"
#include "LineMatcher.h"
#include "Packed.h"
#include "RtfReader.h"
#include "ScopeExit.h"
#include "TextBytes.h"
#include "TextDecoding.h"
#include "Utf16Text.h"
#include "txthandling.h"

namespace vorn {

TForm2* Form2 = nullptr;

// The text of a large file that is still to come into the text box, in blocks: those before
// the shown ones go in at the start, those after them at the end.
struct TForm2::PendingText {
  QString text;
  std::vector<int> states;
  std::vector<qsizetype> starts;
  size_t headEnd = 0;    // blocks [0, headEnd) are to come before the shown ones
  size_t tailBegin = 0;  // blocks [tailBegin, end) after them
  int headLines = 0;
  int tailLines = 0;
  bool endsWithBreak = false;  // the file's last line (a final line break adds none)
  qsizetype EndOf(size_t block) const {
    return block + 1 < starts.size() ? starts[block + 1] - 1 : text.size();
  }
};

namespace {

// Strict UTF-8, decoded straight into the string the text box gets; *splitAt gets the length
// in UTF-16 units of the text the first split bytes decode to (split at a character's start).
bool DecodeUtf8Split(std::string_view bytes, size_t split, QString* out, qsizetype* splitAt) {
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                     QStringConverter::Flag::ConvertInitialBom);
  QString text(decoder.requiredSpace(static_cast<qsizetype>(bytes.size())), Qt::Uninitialized);
  QChar* const begin = text.data();
  QChar* end = decoder.appendToBuffer(begin, QByteArrayView(bytes.data(), qsizetype(split)));
  *splitAt = end - begin;
  end = decoder.appendToBuffer(
      end, QByteArrayView(bytes.data() + split, static_cast<qsizetype>(bytes.size() - split)));
  text.resize(end - begin);
  *out = std::move(text);
  return !decoder.hasError();
}

// Strict UTF-8: any invalid or truncated sequence counts as an error. A mark is text here:
// the one that starts a file is dropped before, as the search drops it.
bool DecodeUtf8(std::string_view bytes, QString* out) {
  qsizetype none = 0;
  return DecodeUtf8Split(bytes, 0, out, &none);
}

QString Latin1(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The text box breaks lines at characters the search does not: U+2028, U+2029, and U+FDD0
// and U+FDD1, which it keeps as frame marks. They show as stand-ins, one for one, so the
// lines and the positions in the text box stay those of the search.
void ShowBreakLikeCharsAsText(QChar& c) {
  const char16_t u = c.unicode();
  if (u == 0x2028)
    c = QChar(0x21B5);  // a return arrow
  else if (u == 0x2029)
    c = QChar(0x00B6);  // the pilcrow
  else if (u == 0xFDD0 || u == 0xFDD1)
    c = QChar(QChar::ReplacementCharacter);
}

void ShowBreakLikeCharsAsText(QString& text) {
  for (QChar& c : text) ShowBreakLikeCharsAsText(c);
}

// The found text, decoded as the file was. The result line shows at most the first bytes of
// a long line, which may cut a UTF-8 sequence: such a cut tail is dropped. *used gets the
// number of bytes decoded, npos when they are no valid UTF-8 even without such a tail.
QString DecodeNeedle(std::string_view bytes, bool utf8, size_t* used = nullptr) {
  if (used) *used = bytes.size();
  if (!utf8) return Latin1(bytes);
  QString out;
  for (size_t cut = 0; cut <= 3 && cut <= bytes.size(); ++cut) {
    if (DecodeUtf8(bytes.substr(0, bytes.size() - cut), &out)) {
      if (used) *used = bytes.size() - cut;
      ShowBreakLikeCharsAsText(out);
      return out;
    }
  }
  if (used) *used = std::string_view::npos;
  out = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
  ShowBreakLikeCharsAsText(out);
  return out;
}

// The bytes shown as text: a UTF-16 file, and one in a legacy encoding, as the UTF-8 the
// search decodes it to (kept in *decoded), without the UTF-8 mark that may begin a file.
std::string_view TextBytesOf(std::string_view bytes, const std::string& encoding,
                             std::string* decoded) {
  if (DecodeMarkedUtf16(bytes, *decoded)) return *decoded;
  if (MarkAt(bytes) == TextMark::Utf8) {
    bytes.remove_prefix(MarkLength(TextMark::Utf8));
    return bytes;
  }
  const std::string name = EncodingForHead(bytes, true, encoding);
  if (name.empty()) return bytes;
  *decoded = DecodeAll(bytes, name);
  return *decoded;
}

// Whether the decoded found text can be looked for in the file's bytes with the same outcome
// as in the shown text: not when it holds a line break or a character the shown text has
// stand-ins for (the stand-ins among them), or it is empty.
bool FindableInBytes(QStringView needle) {
  if (needle.isEmpty()) return false;
  for (const QChar c : needle) {
    const char16_t u = c.unicode();
    if (u == '\n' || u == '\r' || u == 0x21B5 || u == 0x00B6 || u == QChar::ReplacementCharacter)
      return false;
  }
  return true;
}

// File bytes are shown as UTF-8 when they are valid UTF-8 (a leading byte order mark
// dropped), else as Latin-1, so every byte shows as one character and none is lost; bytes
// with a UTF-16 mark as the UTF-8 text the search decodes them to. Then (GroupLinesIntoBlocks)
// line breaks (CR LF, lone CR) become LF, so the text box's lines are the lines the search
// counted, and characters the text box would break lines at but the search does not (U+2028,
// U+2029, U+FDD0, U+FDD1) show as stand-ins.
//
// The file's text, decoded, and where the found text first occurs in it (in the text before
// its line breaks are made LF). The mark is looked for in the bytes, far quicker than in the
// decoded text, by the same rule for letter case: Unicode's folding in UTF-8, ASCII letters
// only in Latin-1. A needle FindableInBytes refuses is left to FindMark (marked false).
struct DecodedFile {
  QString text;
  bool utf8 = true;
  bool marked = false;
  MarkSpan mark;
};

// The bytes [begin, end) of the 0-based line of a file, lines broken as the search breaks
// them; begin is npos past the last line.
struct ByteLine {
  size_t begin = std::string_view::npos;
  size_t end = std::string_view::npos;
};

ByteLine LineOfBytes(std::string_view bytes, size_t index) {
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  for (; index > 0; --index) {
    p = FindNextBreak(p, end);
    if (p == end) return {};
    p = SkipBreak(p, end);
  }
  if (p == end && !bytes.empty()) return {};
  const auto begin = static_cast<size_t>(p - bytes.data());
  return {begin, static_cast<size_t>(FindNextBreak(p, end) - bytes.data())};
}

DecodedFile DecodeWithMark(std::string_view bytes, std::string_view found, size_t lineIndex) {
  DecodedFile out;
  size_t used = 0;
  const bool byBytes =
      FindableInBytes(DecodeNeedle(found, true, &used)) && used != std::string_view::npos;
  // The hit's own line is looked at first: the same text on an earlier line is not the hit.
  const ByteLine line = LineOfBytes(bytes, lineIndex);
  LineMatch hit;
  if (byBytes) {
    SearchOptions options;
    options.query = std::string(found.substr(0, used));
    const LineMatcher matcher(options);
    if (line.begin != std::string_view::npos) {
      hit = matcher.FirstMatch(bytes.substr(line.begin, line.end - line.begin));
      if (hit.Found()) hit.at += line.begin;
    }
    if (!hit.Found()) hit = matcher.FirstMatch(bytes);
  }
  qsizetype at = 0;
  out.utf8 = DecodeUtf8Split(bytes, hit.Found() ? hit.at : 0, &out.text, &at);
  if (out.utf8) {
    out.marked = byBytes;
    if (hit.Found()) out.mark = {at, DecodeNeedle(bytes.substr(hit.at, hit.size), true).size()};
    return out;
  }
  out.text = Latin1(bytes);
  if (FindableInBytes(Latin1(found))) {
    out.marked = true;
    size_t length = 0;
    const PatternScanner scanner(found, &CaseInsensitiveKeys());
    size_t start = PatternScanner::npos;
    if (line.begin != std::string_view::npos) {
      start = scanner.Find(bytes, line.begin, length);
      if (start != PatternScanner::npos && start + length > line.end) start = PatternScanner::npos;
    }
    if (start == PatternScanner::npos) start = scanner.Find(bytes, 0, length);
    if (start != PatternScanner::npos)
      out.mark = {static_cast<qsizetype>(start), static_cast<qsizetype>(length)};
  }
  return out;
}

// The found text on the 0-based line of the text (lines end at LF or a line separator), else
// its first occurrence in the whole text: a rich-text file's shown lines need not be the
// lines the search counted. Letter case is ignored by the search's rule (utf8: the file was
// read as UTF-8, not shown as Latin-1).
MarkSpan FindMark(QStringView text, QStringView needle, bool utf8, size_t lineIndex) {
  const auto breakAt = [&text](qsizetype from) {
    for (qsizetype i = from; i < text.size(); ++i)
      if (text[i] == QLatin1Char('\n') || text[i] == QChar::LineSeparator) return i;
    return text.size();
  };
  qsizetype begin = 0;
  for (size_t k = 0; k < lineIndex && begin <= text.size(); ++k) begin = breakAt(begin) + 1;
  qsizetype length = 0;
  if (begin <= text.size()) {
    const qsizetype end = breakAt(begin);
    const qsizetype found = FindIgnoringCase(text.mid(begin, end - begin), needle, utf8, &length);
    if (found >= 0) return MarkSpan{begin + found, length};
  }
  const qsizetype found = FindIgnoringCase(text, needle, utf8, &length);
  return found < 0 ? MarkSpan{} : MarkSpan{found, length};
}

enum class ReadOutcome { Ok, CannotOpen, TooLarge, ReadFailed };

// Reads a regular file whole. Others may go on reading it; nothing is locked. A FIFO or a
// device would block or never end, and a file over the limit is not loaded.
ReadOutcome ReadWholeFile(const std::string& path, std::string* bytes, long long* size) {
  const Fd f(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!f.ok()) return ReadOutcome::CannotOpen;
  struct stat st {};
  if (fstat(f.fd(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadOutcome::CannotOpen;
  *size = st.st_size;
  if (static_cast<unsigned long long>(st.st_size) > kViewerFileLimit) return ReadOutcome::TooLarge;
  bytes->clear();
  bytes->resize(static_cast<size_t>(st.st_size) + 1);  // one more: sees a file that grew
  size_t have = 0;
  for (;;) {
    if (have == bytes->size()) {
      if (bytes->size() > kViewerFileLimit) {
        *size = static_cast<long long>(bytes->size());
        return ReadOutcome::TooLarge;
      }
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

// A status bar panel: its design width when there is room, narrower when the window is, and
// wider when its text needs it ("Line: x/y" of a file of millions of lines).
class StatusPanel : public QLabel {
 public:
  StatusPanel(int width, QWidget* parent) : QLabel(parent), width_(width) {
    setSizePolicy(width > 0 ? QSizePolicy::Maximum : QSizePolicy::Expanding,
                  QSizePolicy::Preferred);
  }
  QSize sizeHint() const override {
    const QSize text = QLabel::sizeHint();
    return {width_ > 0 ? std::max(width_, text.width()) : 0, text.height()};
  }
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

bool IsLineBreak(QChar c) { return c == QChar::LineSeparator || c == QChar::ParagraphSeparator; }

// Each block of the text box carries, as its user state, the number of line separators in
// it and whether its last line runs on into the next block (a display piece of a long line):
// separators * 2 + runsOn. A block without a state (-1) has its separators counted.
int BlockState(int separators, bool runsOn) { return separators * 2 + (runsOn ? 1 : 0); }

struct BlockLines {
  int separators;
  bool runsOn;
  static BlockLines Of(int state) { return {state >> 1, (state & 1) != 0}; }
  // The lines the block counts: a line that runs on is counted in the block it ends in.
  int Lines() const { return separators + (runsOn ? 0 : 1); }
};

BlockLines LinesOf(const QTextBlock& block) {
  const int state = block.userState();
  if (state >= 0) return BlockLines::Of(state);
  return {static_cast<int>(block.text().count(QChar::LineSeparator)), false};
}

// A walk over the blocks in order, to the one in which a 0-based line begins.
struct LineWalk {
  std::size_t first = 0;  // the line of the block's first character
  bool startsLine = true;
  bool Holds(std::size_t index, BlockLines block) const {
    return (startsLine && index == first) ||
           (index > first && index <= first + static_cast<std::size_t>(block.separators));
  }
  void Pass(BlockLines block) {
    first += static_cast<std::size_t>(block.Lines());
    startsLine = !block.runsOn;
  }
};

// The blocks of the text box, their states in order, and where display pieces begin in the
// file's text (the text box holds a block break before each).
struct PlainBlocks {
  std::vector<int> states;
  std::vector<qsizetype> starts;  // where each block begins in the text
  std::vector<qsizetype> pieceStarts;
  bool longLines = false;  // a line needs display pieces
};

// A text box block costs far more to create than its characters do, so the lines of a plain
// file are grouped into blocks of up to kBlockLines lines (or about kBlockChars characters),
// separated inside a block by line separators. Each character keeps its position, and every
// line still shows as a line of its own. One pass, in place.
constexpr int kBlockLines = 128;
constexpr qsizetype kBlockChars = 16384;

// The first position from i on whose character the pass below must look at: a line break,
// or (a cheap test covering the characters shown as stand-ins) one from U+2028 on.
qsizetype NextSpecial(const char16_t* data, qsizetype i, qsizetype size) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi16('\n');
  const __m128i cr = _mm_set1_epi16('\r');
  const __m128i below = _mm_set1_epi16(0x2027);
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= size; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const int breaks =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr)));
    const int low = _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_subs_epu16(v, below), zero));
    const unsigned special = static_cast<unsigned>(breaks | (~low & 0xFFFF));
    if (special) return i + __builtin_ctz(special) / 2;
  }
#endif
  for (; i < size; ++i)
    if (data[i] == '\n' || data[i] == '\r' || data[i] >= 0x2028) return i;
  return size;
}

// One pass over the decoded text, in place: line breaks (CR LF, lone CR) become LF, the
// characters the text box would break lines at show as stand-ins (utf8), and the lines are
// grouped into blocks. *position, a position in the text before, becomes the same
// character's position after.
PlainBlocks GroupLinesIntoBlocks(QString& text, bool utf8, qsizetype* position) {
  PlainBlocks out;
  int lines = 0;
  int separators = 0;
  qsizetype blockStart = 0;
  qsizetype lineStart = 0;
  char16_t* data = reinterpret_cast<char16_t*>(text.data());
  const qsizetype size = text.size();
  const qsizetype from = *position;
  qsizetype w = 0;  // where the character read at i goes
  out.starts.push_back(0);
  for (qsizetype i = 0; i < size;) {
    const qsizetype next = NextSpecial(data, i, size);
    if (from >= i && from < next) *position = w + (from - i);
    if (w != i) std::memmove(data + w, data + i, static_cast<size_t>(next - i) * sizeof(char16_t));
    w += next - i;
    i = next;
    if (i == size) break;
    if (i == from) *position = w;
    char16_t c = data[i++];
    if (c == '\r') {
      if (i < size && data[i] == '\n') continue;  // the LF that follows ends the line
      c = '\n';
    }
    if (c != '\n') {
      if (utf8) {
        QChar shown(c);
        ShowBreakLikeCharsAsText(shown);
        c = shown.unicode();
      }
      data[w++] = c;
      continue;
    }
    const qsizetype at = w++;
    if (at - lineStart > kViewerPieceChars) out.longLines = true;
    lineStart = at + 1;
    if (++lines < kBlockLines && at - blockStart < kBlockChars) {
      data[at] = QChar::LineSeparator;
      ++separators;
    } else {
      data[at] = '\n';
      out.states.push_back(BlockState(separators, false));
      out.starts.push_back(at + 1);
      separators = lines = 0;
      blockStart = at + 1;
    }
  }
  text.resize(w);
  if (w - lineStart > kViewerPieceChars) out.longLines = true;
  out.states.push_back(BlockState(separators, false));
  return out;
}

// Cuts the lines longer than kViewerPieceChars of a grouped text into display pieces.
QString CutIntoPieces(const QString& text, PlainBlocks* blocks) {
  blocks->states.clear();
  blocks->starts.assign(1, 0);
  QString out;
  const QChar* data = text.constData();
  const qsizetype size = text.size();
  out.reserve(size + size / kViewerPieceChars + 1);
  int separators = 0;
  qsizetype lineLength = 0;
  qsizetype copied = 0;  // data before this is in out
  for (qsizetype i = 0; i < size; ++i) {
    const QChar c = data[i];
    if (c == QLatin1Char('\n')) {
      blocks->states.push_back(BlockState(separators, false));
      blocks->starts.push_back(out.size() + i - copied + 1);
      separators = 0;
      lineLength = 0;
    } else if (c == QChar::LineSeparator) {
      ++separators;
      lineLength = 0;
    } else if (lineLength >= kViewerPieceChars && !c.isLowSurrogate()) {
      out.append(data + copied, i - copied);
      out += QLatin1Char('\n');
      copied = i;
      blocks->states.push_back(BlockState(separators, true));
      blocks->starts.push_back(out.size());
      blocks->pieceStarts.push_back(i);
      separators = 0;
      lineLength = 1;
    } else {
      ++lineLength;
    }
  }
  out.append(data + copied, size - copied);
  blocks->states.push_back(BlockState(separators, false));
  return out;
}

// A large file reaches the text box in slices of about this many characters, as many as fit
// in this much time between two looks at the window's events.
qsizetype firstChars = qsizetype{2} << 20;
constexpr qsizetype kSliceChars = qsizetype{1} << 20;
constexpr int kSliceMs = 6;

// Characters [from, to) of text, not copied: the text box copies what it is given.
QString Slice(const QString& text, qsizetype from, qsizetype to) {
  return QString::fromRawData(text.constData() + from, to - from);
}

// Characters [from, to) of the text still to come are in the text box and never read again:
// their memory goes back to the system now, a little with each slice, rather than hundreds
// of megabytes at once with the last one.
void Release(const QString& text, qsizetype from, qsizetype to) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(text.constData() + from);
  const auto end = reinterpret_cast<std::uintptr_t>(text.constData() + to);
  const std::uintptr_t begin = (start + page - 1) & ~(page - 1);
  const std::uintptr_t stop = end & ~(page - 1);
  if (stop > begin) madvise(reinterpret_cast<void*>(begin), stop - begin, MADV_DONTNEED);
}

// The block in which the 0-based line begins, by the blocks' states; none (the number of
// blocks) past the last line.
size_t BlockOfLine(const std::vector<int>& states, size_t index) {
  LineWalk walk;
  for (size_t b = 0; b < states.size(); ++b) {
    const BlockLines lines = BlockLines::Of(states[b]);
    if (walk.Holds(index, lines)) return b;
    walk.Pass(lines);
  }
  return states.size();
}

// A position in the file's text as a position in the text box, which holds a block break
// before each display piece.
qsizetype ShownPosition(const std::vector<qsizetype>& pieceStarts, qsizetype position) {
  return position +
         (std::upper_bound(pieceStarts.begin(), pieceStarts.end(), position) - pieceStarts.begin());
}

// The viewer's file-name header: the path as plain text, elided in the middle when the
// window is narrower, so a long path never widens the window; the whole path is its tooltip.
class PathHeader : public QLabel {
 public:
  explicit PathHeader(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

  void SetPath(const QString& shown) {
    setText(shown);
    setToolTip(PlainToolTip(shown));
  }
  QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }
  QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    (void)event;
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect().adjusted(margin() + 2, margin(), -margin() - 2, -margin());
    const QString elided = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, static_cast<int>(alignment()) | Qt::TextSingleLine, elided);
  }
};

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
  DressWindow(this, QStringLiteral("Form2"), QStringLiteral("Form2"));
  resize(760, 463);

  Panel1 = new PathHeader(this);
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
  RichEdit1->viewport()->installEventFilter(this);
  // Line numbers are counted again after any change of the text.
  connect(RichEdit1->document(), &QTextDocument::contentsChange, this, &TForm2::TextChanged);
  // A file dropped anywhere on the window opens as a result does.
  setAcceptDrops(true);

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

  // The highlights follow the part of the text shown.
  highlighter_ = new QTimer(this);
  highlighter_->setSingleShot(true);
  highlighter_->setInterval(0);
  connect(highlighter_, &QTimer::timeout, this, &TForm2::HighlightOccurrences);
  connect(RichEdit1->verticalScrollBar(), &QScrollBar::valueChanged, highlighter_,
          qOverload<>(&QTimer::start));
  connect(RichEdit1->document(), &QTextDocument::contentsChanged, highlighter_,
          qOverload<>(&QTimer::start));

  loader_ = new QTimer(this);
  loader_->setInterval(0);
  connect(loader_, &QTimer::timeout, this, &TForm2::LoadSlices);

  // Runs from creation on, also while the window is hidden.
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
  Timer1->start();
}

TForm2::~TForm2() = default;

qsizetype SetViewerFirstChars(qsizetype chars) {
  std::swap(firstChars, chars);
  return chars;
}

bool TForm2::ReadFile(const std::string& path, std::string* bytes) {
  long long size = 0;
  // The box stands over the window the hit came from while the viewer is hidden.
  QWidget* over = isVisible() ? this : QApplication::activeWindow();
  if (packed_) {
    const int packed = ReadPackedWhole(path, kViewerFileLimit, *bytes);
    if (packed == 0) return true;
    if (packed != ENOEXEC) {
      ShowErrorBox(over, QStringLiteral("Cannot open file %1").arg(ShownBytes(path)));
      return false;
    }
  }
  const ReadOutcome outcome = ReadWholeFile(path, bytes, &size);
  const auto megabytes = [](long long n) {
    return QLocale::system().toString(static_cast<double>(n) / (1 << 20), 'f', 1);
  };
  switch (outcome) {
    case ReadOutcome::CannotOpen:
      ShowErrorBox(over, QStringLiteral("Cannot open file %1").arg(ShownBytes(path)));
      return false;
    case ReadOutcome::TooLarge:
      ShowErrorBox(over, QStringLiteral("Cannot open file %1: it is %2 MB, larger than the %3 MB "
                                        "the viewer shows")
                             .arg(ShownBytes(path), megabytes(size))
                             .arg(kViewerFileLimit >> 20));
      return false;
    case ReadOutcome::ReadFailed:
      ShowErrorBox(over, QStringLiteral("Failed to Load Stream"));
      return false;
    case ReadOutcome::Ok:
      break;
  }
  return true;
}

// With a pattern, the mark narrows from the found line to the pattern's first match in it; the
// whole line stays marked when the match lies past the shown bytes.
MarkSpan TForm2::NarrowToPattern(MarkSpan mark, std::string_view line, bool utf8) const {
  size_t start = 0, end = 0;
  if (mark.position < 0 || !markPattern_ || !markPattern_->FirstMatch(line, &start, &end))
    return mark;
  const std::string_view trimmed = Trimmed(line);
  const size_t lead = static_cast<size_t>(trimmed.data() - line.data());
  start = std::clamp(start, lead, lead + trimmed.size()) - lead;
  end = std::clamp(end, lead + start, lead + trimmed.size()) - lead;
  const qsizetype before = DecodeNeedle(trimmed.substr(0, start), utf8).size();
  return MarkSpan{mark.position + before,
                  DecodeNeedle(trimmed.substr(0, end), utf8).size() - before};
}

// Loads the bytes into the text box (RTF formatted, anything else as plain text) and marks
// the found text red; returns where the mark is in the text box.
MarkSpan TForm2::ShowBytes(std::string bytes, std::string_view line, std::size_t lineIndex) {
  const std::string_view found = Trimmed(line);
  QTextDocument* doc = RichEdit1->document();
  loader_->stop();
  pending_.reset();
  loading_ = true;
  // A file near the size ceiling takes a moment to load: the pointer says so meanwhile.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const ScopeExit loaded([this] {
    QApplication::restoreOverrideCursor();
    loading_ = false;
    lineTableStale_ = true;
  });
  // A fresh cursor carries no character format of its own, so nothing of an earlier red
  // mark is handed on to the new content: plain text loads black.
  RichEdit1->setTextCursor(QTextCursor(doc));
  RichEdit1->setCurrentCharFormat(QTextCharFormat());
  MarkSpan mark;
  if (ReadRtf(bytes, *doc)) {
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
      b.setUserState(BlockState(static_cast<int>(b.text().count(QChar::LineSeparator)), false));
    blockCount_ = doc->blockCount();
    mark = NarrowToPattern(FindMark(doc->toPlainText(), DecodeNeedle(found, true), true, lineIndex),
                           line, true);
  } else {
    DecodedFile decoded;
    {
      std::string text;
      decoded = DecodeWithMark(TextBytesOf(bytes, encoding_, &text), found, lineIndex);
    }
    std::string().swap(bytes);
    QString text = std::move(decoded.text);
    const bool utf8 = decoded.utf8;
    mark = decoded.mark;
    PlainBlocks blocks = GroupLinesIntoBlocks(text, utf8, &mark.position);
    // The mark is in the file's text, before display pieces are cut.
    if (!decoded.marked) mark = FindMark(text, DecodeNeedle(found, utf8), utf8, lineIndex);
    mark = NarrowToPattern(mark, line, utf8);
    if (blocks.longLines) text = CutIntoPieces(text, &blocks);
    if (mark.position >= 0) {
      const qsizetype start = ShownPosition(blocks.pieceStarts, mark.position);
      const qsizetype end = ShownPosition(blocks.pieceStarts, mark.position + mark.length - 1) + 1;
      mark = MarkSpan{start, end - start};
    }
    // Where the caret goes: the mark, else the hit's line.
    const size_t hitBlock = BlockOfLine(blocks.states, lineIndex);
    const qsizetype target = mark.position >= 0                ? mark.position
                             : hitBlock < blocks.starts.size() ? blocks.starts[hitBlock]
                                                               : text.size();
    const qsizetype shownFrom =
        ShowPlainText(std::move(text), std::move(blocks.states), std::move(blocks.starts), target);
    if (mark.position >= 0) mark.position -= shownFrom;
  }
  // The mark is set before anything is laid out, so a long line is laid out only once.
  if (mark.position >= 0) MarkRed(mark);
  return mark;
}

// Shows the text, or of a large one the blocks around the target position (the rest follows
// in slices); returns the position in the text where the text box begins.
qsizetype TForm2::ShowPlainText(QString text, std::vector<int> states,
                                std::vector<qsizetype> starts, qsizetype target) {
  size_t first = 0;
  size_t last = states.size();
  if (text.size() > firstChars) {
    const auto blockAt = [&starts](qsizetype position) {
      return static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), position) -
                                 starts.begin()) -
             1;
    };
    first = blockAt(std::max<qsizetype>(0, target - firstChars / 2));
    last = blockAt(target + firstChars / 2) + 1;
  }
  auto pending = std::make_unique<PendingText>();
  pending->text = std::move(text);
  pending->states = std::move(states);
  pending->starts = std::move(starts);
  const PendingText& p = *pending;
  const qsizetype begin = p.starts[first];
  if (first == 0 && last == p.states.size())
    RichEdit1->setPlainText(p.text);
  else
    RichEdit1->setPlainText(p.text.mid(begin, p.EndOf(last - 1) - begin));
  blockCount_ = RichEdit1->document()->blockCount();
  size_t i = first;
  for (QTextBlock b = RichEdit1->document()->begin(); b.isValid() && i < last; b = b.next())
    b.setUserState(p.states[i++]);
  if (first > 0 || last < p.states.size()) {
    pending->headEnd = first;
    pending->tailBegin = last;
    for (size_t k = 0; k < first; ++k) pending->headLines += BlockLines::Of(p.states[k]).Lines();
    for (size_t k = last; k < p.states.size(); ++k)
      pending->tailLines += BlockLines::Of(p.states[k]).Lines();
    const QChar end = p.text.isEmpty() ? QChar(u'\n') : p.text.back();
    pending->endsWithBreak = end == QLatin1Char('\n') || end == QChar::LineSeparator;
    Release(p.text, begin, p.EndOf(last - 1));
    pending_ = std::move(pending);
    loader_->start();
  }
  return begin;
}

// Slices go in while the window takes input between them; each keeps the view where it was.
void TForm2::LoadSlices() {
  QElapsedTimer spent;
  spent.start();
  while (pending_ && spent.elapsed() < kSliceMs) LoadSlice();
}

void TForm2::LoadRest() {
  while (pending_) LoadSlice();
}

void TForm2::LoadSlice() {
  PendingText& p = *pending_;
  QTextDocument* doc = RichEdit1->document();
  loading_ = true;
  const ScopeExit loaded([this] {
    loading_ = false;
    lineTableStale_ = true;
  });
  if (p.headEnd > 0) {
    // Blocks before the shown ones: in at the start, the view kept on the text it shows.
    size_t from = p.headEnd - 1;
    while (from > 0 && p.starts[p.headEnd] - p.starts[from - 1] <= kSliceChars) --from;
    const int firstState = doc->begin().userState();
    // The view's top: a block and a line in it, the scroll bar's value counting lines.
    QScrollBar* bar = RichEdit1->verticalScrollBar();
    const QTextBlock top = doc->findBlockByLineNumber(bar->value());
    const int topBlock = top.blockNumber();
    const int topLine = bar->value() - top.firstLineNumber();
    QTextCursor at(doc);
    at.insertText(Slice(p.text, p.starts[from], p.starts[p.headEnd]), QTextCharFormat());
    Release(p.text, p.starts[from], p.starts[p.headEnd]);
    QTextBlock b = doc->begin();
    for (size_t k = from; k < p.headEnd; ++k, b = b.next()) {
      b.setUserState(p.states[k]);
      p.headLines -= BlockLines::Of(p.states[k]).Lines();
    }
    b.setUserState(firstState);
    const int added = static_cast<int>(p.headEnd - from);
    bar->setValue(doc->findBlockByNumber(topBlock + added).firstLineNumber() + topLine);
    p.headEnd = from;
  } else if (p.tailBegin < p.states.size()) {
    // Blocks after them: in at the end.
    size_t to = p.tailBegin + 1;
    while (to < p.states.size() && p.EndOf(to) - p.starts[p.tailBegin] <= kSliceChars) ++to;
    const int lastBlock = doc->blockCount() - 1;
    const int lastState = doc->lastBlock().userState();
    QTextCursor at(doc);
    at.movePosition(QTextCursor::End);
    at.insertText(Slice(p.text, p.starts[p.tailBegin] - 1, p.EndOf(to - 1)), QTextCharFormat());
    Release(p.text, p.starts[p.tailBegin] - 1, p.EndOf(to - 1));
    QTextBlock b = doc->findBlockByNumber(lastBlock);
    b.setUserState(lastState);
    for (size_t k = p.tailBegin; k < to; ++k) {
      b = b.next();
      b.setUserState(p.states[k]);
      p.tailLines -= BlockLines::Of(p.states[k]).Lines();
    }
    p.tailBegin = to;
  }
  if (p.headEnd == 0 && p.tailBegin == p.states.size()) {
    loader_->stop();
    pending_.reset();
  }
}

int TForm2::HeadLines() const { return pending_ ? pending_->headLines : 0; }

void TForm2::ShowResultInViewer(const SearchHit& hit) {
  std::string bytes;
  if (!ReadFile(std::string(hit.path), &bytes)) return;
  const MarkSpan mark = ShowBytes(std::move(bytes), hit.text, hit.lineIndex);
  static_cast<PathHeader*>(Panel1)->SetPath(ShownBytes(hit.path));
  // A minimised window still counts as visible: it is restored (keeping a maximised state).
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  if (!isVisible()) show();
  raise();
  activateWindow();
  RichEdit1->setFocus();
  // Lines still to come before the shown ones are not in the text box yet.
  const auto head = static_cast<std::size_t>(HeadLines());
  GotoLine(RichEdit1, hit.lineIndex - std::min(hit.lineIndex, head), 0);
  if (mark.position >= 0) {
    QTextCursor caret(RichEdit1->document());
    caret.setPosition(static_cast<int>(mark.position));
    RichEdit1->setTextCursor(caret);
  }
  placeMark_ = mark;
  placing_ = true;
  PlaceView();
}

// The caret's line about a third from the top rather than on the bottom edge, and across,
// the mark in view: from the line's start when it fits, else its start a quarter in. Done
// again while the window gets its size, until the user moves in the text.
void TForm2::PlaceView() {
  QPlainTextEdit* box = RichEdit1;
  box->ensureCursorVisible();
  QScrollBar* vertical = box->verticalScrollBar();
  const int lineHeight = std::max(1, box->fontMetrics().lineSpacing());
  for (int pass = 0; pass < 4; ++pass) {
    const int lines = (box->cursorRect().top() - box->viewport()->height() / 3) / lineHeight;
    const int before = vertical->value();
    if (lines == 0) break;
    vertical->setValue(before + lines);
    if (vertical->value() == before) break;
  }
  QScrollBar* across = box->horizontalScrollBar();
  const int width = box->viewport()->width();
  const int start = across->value() + box->cursorRect().left();
  int end = start;
  if (placeMark_.position >= 0) {
    QTextCursor markEnd(box->document());
    markEnd.setPosition(std::min(static_cast<int>(placeMark_.position + placeMark_.length),
                                 box->document()->characterCount() - 1));
    end = across->value() + box->cursorRect(markEnd).right();
  }
  const int margin = box->fontMetrics().averageCharWidth() * 2;
  across->setValue(end + margin <= width ? 0 : start - width / 4);
}

void TForm2::SetMarkPattern(const SearchOptions& options) {
  encoding_ = options.encoding;
  packed_ = options.packed;
  markPattern_.reset();
  occurrences_.reset();
  if (!Trimmed(options.query).empty() || (options.regex && !options.query.empty()))
    occurrences_ = std::make_shared<const LineMatcher>(options);
  highlighter_->start();
  if (options.regex)
    markPattern_ =
        RegexMatcher::Compile(options.query, options.matchCase, options.wholeWord, nullptr, false);
}

// The query's matches in each line of a block, the bytes of its text as UTF-8.
std::vector<MarkSpan> TForm2::OccurrencesIn(const QTextBlock& block) const {
  std::vector<MarkSpan> out;
  if (!occurrences_) return out;
  const QString text = block.text();
  std::vector<MatchRange> ranges;
  qsizetype lineStart = 0;
  while (lineStart <= text.size()) {
    qsizetype lineEnd = text.indexOf(QChar::LineSeparator, lineStart);
    if (lineEnd < 0) lineEnd = text.size();
    const QStringView line = QStringView(text).mid(lineStart, lineEnd - lineStart);
    const QByteArray bytes = line.toUtf8();
    ranges.clear();
    occurrences_->Matches(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                          ranges);
    // Byte offsets back to characters, counting as the ranges go.
    size_t byte = 0;
    qsizetype position = 0;
    const auto advance = [&](size_t to) {
      position +=
          QString::fromUtf8(bytes.constData() + byte, static_cast<qsizetype>(to - byte)).size();
      byte = to;
    };
    for (const MatchRange& m : ranges) {
      if (m.begin < byte || m.end <= m.begin) continue;
      advance(m.begin);
      const qsizetype begin = position;
      advance(std::min(m.end, static_cast<size_t>(bytes.size())));
      out.push_back(MarkSpan{block.position() + lineStart + begin, position - begin});
    }
    lineStart = lineEnd + 1;
  }
  return out;
}

std::vector<MarkSpan> TForm2::HighlightedOccurrences() const {
  std::vector<MarkSpan> out;
  for (const QTextEdit::ExtraSelection& s : RichEdit1->extraSelections())
    out.push_back(
        MarkSpan{s.cursor.selectionStart(), s.cursor.selectionEnd() - s.cursor.selectionStart()});
  return out;
}

// Only the blocks shown and a page or so either side are looked at: a large file costs no
// more than a small one.
void TForm2::HighlightOccurrences() {
  QList<QTextEdit::ExtraSelection> selections;
  if (occurrences_) {
    QTextCharFormat format;
    format.setBackground(QColor(0xFF, 0xEE, 0x70));
    const QTextBlock shown = RichEdit1->cursorForPosition(QPoint(0, 0)).block();
    QTextBlock block = shown;
    for (int i = 0; i < 4 && block.previous().isValid(); ++i) block = block.previous();
    const int lines =
        RichEdit1->viewport()->height() / std::max(1, RichEdit1->fontMetrics().lineSpacing());
    int seen = 0;
    for (; block.isValid() && seen < 3 * lines + kBlockLines * 8; block = block.next()) {
      seen += LinesOf(block).Lines();
      for (const MarkSpan& m : OccurrencesIn(block)) {
        QTextEdit::ExtraSelection s;
        s.cursor = QTextCursor(RichEdit1->document());
        s.cursor.setPosition(static_cast<int>(m.position));
        s.cursor.setPosition(static_cast<int>(m.position + m.length), QTextCursor::KeepAnchor);
        s.format = format;
        selections.append(s);
      }
    }
  }
  RichEdit1->setExtraSelections(selections);
}

bool TForm2::GoToOccurrence(bool forward) {
  if (!occurrences_) return false;
  if (Loading()) LoadRest();
  const int caret = RichEdit1->textCursor().position();
  QTextDocument* doc = RichEdit1->document();
  const QTextBlock start = doc->findBlock(caret);
  std::optional<MarkSpan> found;
  // The caret's block first, then on in the direction asked, round past the end once.
  QTextBlock block = start;
  for (int passed = 0; block.isValid() && passed <= doc->blockCount(); ++passed) {
    const std::vector<MarkSpan> here = OccurrencesIn(block);
    const bool first = passed == 0;
    const bool wrapped = passed == doc->blockCount();
    if (forward) {
      for (const MarkSpan& m : here)
        if ((!first && !wrapped) || (first ? m.position > caret : m.position <= caret)) {
          found = m;
          break;
        }
    } else {
      for (auto m = here.rbegin(); m != here.rend(); ++m)
        if ((!first && !wrapped) || (first ? m->position < caret : m->position >= caret)) {
          found = *m;
          break;
        }
    }
    if (found) break;
    block = forward ? block.next() : block.previous();
    if (!block.isValid()) block = forward ? doc->begin() : doc->lastBlock();
  }
  if (!found) return false;
  QTextCursor at(doc);
  at.setPosition(static_cast<int>(found->position));
  RichEdit1->setTextCursor(at);
  RichEdit1->ensureCursorVisible();
  ShowLinePosition();
  return true;
}

void TForm2::MarkRed(MarkSpan mark) {
  QTextCursor red(RichEdit1->document());
  red.setPosition(static_cast<int>(mark.position));
  red.setPosition(static_cast<int>(mark.position + mark.length), QTextCursor::KeepAnchor);
  QTextCharFormat format;
  format.setForeground(QColor(0xFF, 0x00, 0x00));
  red.mergeCharFormat(format);
}

void TForm2::GotoLine(QPlainTextEdit* box, std::size_t index, int offset) {
  QTextDocument* doc = box->document();
  QTextCursor caret(doc);
  // Lines are counted from the blocks' states rather than taken from the layout, which
  // resets its own counts whenever it lays the text out anew.
  LineWalk walk;
  QTextBlock block = doc->begin();
  for (; block.isValid(); block = block.next()) {
    const BlockLines lines = LinesOf(block);
    if (walk.Holds(index, lines)) break;
    walk.Pass(lines);
  }
  if (block.isValid()) {
    // The line's start within its block: after the block's k-th line separator.
    const QString text = block.text();
    qsizetype start = 0;
    for (std::size_t k = index - walk.first; k > 0; --k)
      start = text.indexOf(QChar::LineSeparator, start) + 1;
    caret.setPosition(std::clamp(block.position() + static_cast<int>(start) + offset, 0,
                                 doc->characterCount() - 1));
  } else {
    caret.movePosition(QTextCursor::End);
  }
  box->setTextCursor(caret);
  box->ensureCursorVisible();
}

// An edit changes the line separators only of the blocks it touches. A display piece stays
// one; when the edit breaks a block in two, the new block takes over its end, and with it
// whether that end runs on into the next block.
void TForm2::TextChanged(int position, int removed, int added) {
  (void)removed;
  lineTableStale_ = true;
  QTextDocument* doc = RichEdit1->document();
  const int blocks = doc->blockCount();
  const bool split = blocks > blockCount_;
  blockCount_ = blocks;
  if (loading_) return;
  bool runsOn = false;
  QTextBlock b = doc->findBlock(position);
  while (b.isValid()) {
    const int state = b.userState();
    const bool own = state >= 0 && (state & 1);
    const QTextBlock next = b.next();
    const bool last = !next.isValid() || next.position() > position + added;
    runsOn = split ? runsOn || own : own;
    b.setUserState(BlockState(static_cast<int>(b.text().count(QChar::LineSeparator)),
                              runsOn && (last || !split)));
    if (last) break;
    b = next;
  }
}

QString TForm2::FileText() const {
  QString out;
  for (QTextBlock b = RichEdit1->document()->begin(); b.isValid(); b = b.next()) {
    QString text = b.text();
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    out += text;
    if (b.next().isValid() && !LinesOf(b).runsOn) out += QLatin1Char('\n');
  }
  return out;
}

int TForm2::CaretLine() {
  if (lineTableStale_) {
    lineTableStale_ = false;
    firstLines_.clear();
    int line = 0;
    for (QTextBlock block = RichEdit1->document()->begin(); block.isValid(); block = block.next()) {
      firstLines_.push_back(line);
      line += LinesOf(block).Lines();
    }
    lineCount_ = line;
  }
  const QTextCursor caret = RichEdit1->textCursor();
  const QTextBlock block = caret.block();
  const auto number = static_cast<size_t>(block.blockNumber());
  int before = 0;
  if (LinesOf(block).separators > 0)
    before =
        static_cast<int>(block.text().left(caret.positionInBlock()).count(QChar::LineSeparator));
  return (number < firstLines_.size() ? firstLines_[number] : 0) + before + HeadLines();
}

void TForm2::ShowLinePosition() {
  const QTextDocument* doc = RichEdit1->document();
  const int x = CaretLine();
  int y = lineCount_ + HeadLines() + (pending_ ? pending_->tailLines : 0);
  // A final line break adds no line; an empty text has none.
  const int last = doc->characterCount() - 2;
  if (pending_ && pending_->tailBegin < pending_->states.size()) {
    if (pending_->endsWithBreak) --y;
  } else if (last < 0 || IsLineBreak(doc->characterAt(last))) {
    --y;
  }
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

namespace {

// Keys whose action reaches the whole text, not just the part of a large file that has come
// into the text box: the rest is brought in first, so a selection or a copy holds all of it.
bool ActsOnWholeText(const QKeyEvent* key) {
  for (const QKeySequence::StandardKey k :
       {QKeySequence::SelectAll, QKeySequence::MoveToStartOfDocument,
        QKeySequence::MoveToEndOfDocument, QKeySequence::SelectStartOfDocument,
        QKeySequence::SelectEndOfDocument})
    if (key->matches(k)) return true;
  return false;
}

}  // namespace

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  // The text box's menu, by mouse or by key: its Select All reaches the whole file.
  if (event->type() == QEvent::ContextMenu && Loading() &&
      (watched == RichEdit1 || watched == RichEdit1->viewport()))
    LoadRest();
  if (highlighter_ && watched == RichEdit1->viewport() && event->type() == QEvent::Resize)
    highlighter_->start();
  if (placing_ && (watched == RichEdit1 || watched == RichEdit1->viewport())) {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::Wheel:
        placing_ = false;  // the user moves: the view is theirs
        break;
      case QEvent::Resize:
        if (watched == RichEdit1->viewport())
          QTimer::singleShot(0, this, [this] {
            if (placing_) PlaceView();
          });
        break;
      default:
        break;
    }
  }
  if (watched == RichEdit1) {
    if (event->type() == QEvent::FocusIn) {
      RichEdit1Enter();
    } else if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (RichEdit1KeyDown(key)) return true;
      if (key->key() == Qt::Key_F3) {
        GoToOccurrence(!(key->modifiers() & Qt::ShiftModifier));
        return true;
      }
      if (IsAltChord(key)) return true;  // a command chord types nothing
      if (Loading() && ActsOnWholeText(key)) LoadRest();
      // A character key: the readout shows the position before the key takes effect.
      if (!key->text().isEmpty() && key->text().front().isPrint()) RichEdit1KeyPress();
    }
  } else if (watched == RichEdit1->viewport()) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return DropEvent(static_cast<QDropEvent*>(event));
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// A dropped file opens as a result does; an address that names none is refused, never
// inserted as text. Text dragged from elsewhere goes in as a copy. Nothing is taken as a move,
// after which the drag's source may delete what it gave: only the text box's own text moves.
bool TForm2::DropEvent(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  const bool text = !data->hasUrls();
  if (text && event->source() == RichEdit1) return false;
  // The file is looked for when the drag enters and at the drop, not at every move.
  if (event->type() != QEvent::DragMove) {
    dragFile_.clear();
    const std::vector<std::string> paths = text ? std::vector<std::string>() : DroppedPaths(data);
    for (const std::string& path : paths) {
      struct stat st {};
      if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        dragFile_ = path;
        break;
      }
    }
  }
  const std::string file = dragFile_;
  if (text ? !data->hasText() : file.empty()) {
    event->ignore();
    return true;
  }
  // Text goes in as a copy only.
  if (!AcceptWithoutMove(event, text ? Qt::CopyAction : Qt::CopyAction | Qt::LinkAction) ||
      event->type() != QEvent::Drop)
    return true;
  if (!file.empty()) {
    // Opened once the drop has returned, so the drag's source never waits on an error box.
    QTimer::singleShot(0, this, [this, file] {
      Guarded(this, [&] { ShowResultInViewer(SearchHit{file, 0, {}}); });
    });
  } else if (!RichEdit1->isReadOnly()) {
    QTextCursor at = RichEdit1->cursorForPosition(event->position().toPoint());
    at.insertText(data->text());
    RichEdit1->setTextCursor(at);
  }
  return true;
}

void TForm2::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) DropEvent(event);
}

void TForm2::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) DropEvent(event);
}

void TForm2::dropEvent(QDropEvent* event) {
  if (event->mimeData()->hasUrls()) DropEvent(event);
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
