#include "RtfReader.h"

#include <QColor>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <array>
#include <map>
#include <string>
#include <vector>

namespace vorn {

namespace {

// Windows-1252 for 0x80..0x9F; the other bytes are Latin-1. 0 marks the unused codes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

QChar FromCodePage(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0 && kCp1252High[byte - 0x80] != 0) return QChar(kCp1252High[byte - 0x80]);
  return QChar(static_cast<char16_t>(byte));
}

enum class Destination { Text, FontTable, ColorTable, Skip };

struct State {
  Destination destination = Destination::Text;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int color = 0;      // index into the colour table; 0 is the automatic colour
  int highlight = 0;  // likewise; 0 is none
  int font = -1;
  int halfPoints = 24;
  int unicodeSkip = 1;  // bytes of fallback after \uN

  bool SameLook(const State& o) const {
    return bold == o.bold && italic == o.italic && underline == o.underline && color == o.color &&
           highlight == o.highlight && font == o.font && halfPoints == o.halfPoints;
  }
};

bool IsSkippedDestination(std::string_view word) {
  static constexpr std::string_view kSkipped[] = {
      "annotation", "author",     "bkmkend",     "bkmkstart", "buptim",    "colorschememapping",
      "comment",    "creatim",    "datastore",   "docvar",    "doccomm",   "filetbl",
      "fldinst",    "footer",     "footerf",     "footerl",   "footerr",   "footnote",
      "generator",  "header",     "headerf",     "headerl",   "headerr",   "info",
      "keywords",   "latentstyles", "listoverridetable", "listtable", "mmathPr", "nonshppict",
      "object",     "operator",   "pgdsctbl",    "pict",      "printim",   "private",
      "revtbl",     "revtim",     "rsidtbl",     "shp",       "shpinst",   "stylesheet",
      "subject",    "themedata",  "title",       "txe",       "userprops", "xe",
      "xmlnstbl",   "wgrffmtfilter", "pnseclvl", "pntext",    "pntxta",    "pntxtb"};
  for (std::string_view s : kSkipped)
    if (s == word) return true;
  return false;
}

class Reader {
 public:
  Reader(std::string_view in, QTextDocument& doc) : in_(in), cursor_(&doc) {}

  void Run() {
    cursor_.beginEditBlock();
    size_t i = 0;
    while (i < in_.size()) {
      const char c = in_[i];
      if (c == '{') {
        Flush();
        stack_.push_back(state_);
        skipBytes_ = 0;
        ++i;
        starPending_ = false;
      } else if (c == '}') {
        Flush();
        EndGroup();
        if (stack_.empty()) break;
        state_ = stack_.back();
        stack_.pop_back();
        skipBytes_ = 0;
        ++i;
        if (stack_.empty()) break;  // the document's group has ended
      } else if (c == '\\') {
        i = Control(i + 1);
      } else if (c == '\r' || c == '\n') {
        ++i;
      } else {
        Byte(static_cast<unsigned char>(c));
        ++i;
      }
    }
    Flush();
    cursor_.endEditBlock();
  }

 private:
  size_t Control(size_t i) {
    if (i >= in_.size()) return i;
    const char c = in_[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter) {
      switch (c) {
        case '\\': case '{': case '}': Byte(static_cast<unsigned char>(c)); break;
        case '~': Char(QChar(0x00A0)); break;
        case '_': Char(QChar(0x2011)); break;
        case '*': starPending_ = true; break;
        case '\r': case '\n': Char(QLatin1Char('\n')); break;
        case '\'': {
          if (i + 2 < in_.size() && IsHex(in_[i + 1]) && IsHex(in_[i + 2])) {
            Byte(static_cast<unsigned char>(Hex(in_[i + 1]) * 16 + Hex(in_[i + 2])));
            return i + 3;
          }
          break;
        }
        default: break;  // \- (optional hyphen) and unknown symbols show nothing
      }
      return i + 1;
    }
    size_t end = i;
    while (end < in_.size() && end - i < 32 &&
           ((in_[end] >= 'a' && in_[end] <= 'z') || (in_[end] >= 'A' && in_[end] <= 'Z')))
      ++end;
    const std::string_view word = in_.substr(i, end - i);
    bool hasParam = false;
    bool negative = false;
    long long param = 0;
    if (end < in_.size() && in_[end] == '-') {
      negative = true;
      ++end;
    }
    size_t digits = 0;
    while (end < in_.size() && in_[end] >= '0' && in_[end] <= '9') {
      if (digits < 10) param = param * 10 + (in_[end] - '0');
      ++digits;
      ++end;
    }
    hasParam = digits > 0;
    if (negative) param = -param;
    if (end < in_.size() && in_[end] == ' ') ++end;  // the delimiting blank belongs to the word
    if (word == "bin" && hasParam && param > 0) {
      const auto skip = static_cast<size_t>(param);
      return end + std::min(skip, in_.size() - end);
    }
    Word(word, hasParam, static_cast<int>(std::clamp<long long>(param, -1000000, 1000000)));
    return end;
  }

  void Word(std::string_view word, bool hasParam, int param) {
    if (starPending_) {
      starPending_ = false;
      // An optional destination we know nothing of: skip the whole group.
      state_.destination = Destination::Skip;
      return;
    }
    if (state_.destination == Destination::Skip) return;
    if (word == "fonttbl") {
      state_.destination = Destination::FontTable;
      return;
    }
    if (word == "colortbl") {
      state_.destination = Destination::ColorTable;
      colorPending_ = false;
      return;
    }
    if (IsSkippedDestination(word)) {
      state_.destination = Destination::Skip;
      return;
    }
    if (state_.destination == Destination::FontTable) {
      if (word == "f" && hasParam) {
        fontIndex_ = param;
        fontName_.clear();
      }
      return;
    }
    if (state_.destination == Destination::ColorTable) {
      const int v = std::clamp(param, 0, 255);
      if (word == "red") pending_.setRed(v);
      else if (word == "green") pending_.setGreen(v);
      else if (word == "blue") pending_.setBlue(v);
      else return;
      colorPending_ = true;
      return;
    }
    const bool on = !hasParam || param != 0;
    if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row") Char(QLatin1Char('\n'));
    else if (word == "tab" || word == "cell") Char(QLatin1Char('\t'));
    else if (word == "emdash") Char(QChar(0x2014));
    else if (word == "endash") Char(QChar(0x2013));
    else if (word == "bullet") Char(QChar(0x2022));
    else if (word == "lquote") Char(QChar(0x2018));
    else if (word == "rquote") Char(QChar(0x2019));
    else if (word == "ldblquote") Char(QChar(0x201C));
    else if (word == "rdblquote") Char(QChar(0x201D));
    else if (word == "emspace") Char(QChar(0x2003));
    else if (word == "enspace") Char(QChar(0x2002));
    else if (word == "b") state_.bold = on;
    else if (word == "i") state_.italic = on;
    else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" || word == "uldash") state_.underline = on;
    else if (word == "ulnone") state_.underline = false;
    else if (word == "cf") state_.color = std::max(param, 0);
    else if (word == "highlight" || word == "cb") state_.highlight = std::max(param, 0);
    else if (word == "f" && hasParam) state_.font = param;
    else if (word == "fs" && hasParam && param > 0) state_.halfPoints = param;
    else if (word == "uc" && hasParam) state_.unicodeSkip = std::clamp(param, 0, 16);
    else if (word == "plain") {
      const State keep = state_;
      state_ = State{};
      state_.destination = keep.destination;
      state_.unicodeSkip = keep.unicodeSkip;
    } else if (word == "u" && hasParam) {
      Char(QChar(static_cast<char16_t>(param < 0 ? param + 65536 : param)));
      skipBytes_ = state_.unicodeSkip;
    }
  }

  // One byte of text in the document's code page (or a ";" of a table).
  void Byte(unsigned char b) {
    if (skipBytes_ > 0) {
      --skipBytes_;
      return;
    }
    switch (state_.destination) {
      case Destination::Skip: return;
      case Destination::FontTable:
        if (b == ';') {
          if (fontIndex_ >= 0) fonts_[fontIndex_] = fontName_.trimmed();
          fontName_.clear();
        } else {
          fontName_ += FromCodePage(b);
        }
        return;
      case Destination::ColorTable:
        if (b == ';') {
          colors_.push_back(colorPending_ ? pending_ : QColor());
          pending_ = QColor(0, 0, 0);
          colorPending_ = false;
        }
        return;
      case Destination::Text: Char(FromCodePage(b)); return;
    }
  }

  void Char(QChar c) {
    if (state_.destination != Destination::Text) return;
    if (!run_.isEmpty() && !runState_.SameLook(state_)) Flush();
    if (run_.isEmpty()) runState_ = state_;
    run_ += c;
  }

  void EndGroup() {
    // A font entry closed without its ";".
    if (state_.destination == Destination::FontTable && fontIndex_ >= 0 && !fontName_.trimmed().isEmpty()) {
      fonts_[fontIndex_] = fontName_.trimmed();
      fontName_.clear();
    }
  }

  void Flush() {
    if (run_.isEmpty()) return;
    QTextCharFormat format;
    format.setFontWeight(runState_.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(runState_.italic);
    format.setFontUnderline(runState_.underline);
    format.setFontPointSize(runState_.halfPoints / 2.0);
    if (const auto f = fonts_.find(runState_.font); f != fonts_.end() && !f->second.isEmpty())
      format.setFontFamilies(QStringList{f->second});
    const QColor text = TableColor(runState_.color);
    format.setForeground(text.isValid() ? text : QColor(Qt::black));
    if (const QColor back = TableColor(runState_.highlight); back.isValid()) format.setBackground(back);
    cursor_.insertText(run_, format);
    run_.clear();
  }

  QColor TableColor(int index) const {
    if (index <= 0 || static_cast<size_t>(index) >= colors_.size()) return {};
    return colors_[static_cast<size_t>(index)];
  }

  static bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  static int Hex(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

  std::string_view in_;
  QTextCursor cursor_;
  State state_;
  std::vector<State> stack_;
  bool starPending_ = false;
  int skipBytes_ = 0;
  QString run_;
  State runState_;
  std::map<int, QString> fonts_;
  int fontIndex_ = -1;
  QString fontName_;
  std::vector<QColor> colors_;
  QColor pending_{0, 0, 0};
  bool colorPending_ = false;
};

}  // namespace

bool LooksLikeRtf(std::string_view bytes) { return bytes.substr(0, 5) == "{\\rtf"; }

bool ReadRtf(std::string_view bytes, QTextDocument& document) {
  if (!LooksLikeRtf(bytes)) return false;
  document.clear();
  Reader(bytes, document).Run();
  return true;
}

}  // namespace vorn
