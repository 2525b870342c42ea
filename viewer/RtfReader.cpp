#include "RtfReader.h"

#include <iconv.h>

#include <QColor>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "RtfTokenizer.h"

namespace vorn {

namespace {

// The control words that stand for one typographic sign; 0 for any other word.
char16_t SymbolWord(std::string_view word) {
  static constexpr std::pair<std::string_view, char16_t> kSigns[] = {
      {"emdash", 0x2014},    {"endash", 0x2013},  {"bullet", 0x2022},
      {"lquote", 0x2018},    {"rquote", 0x2019},  {"ldblquote", 0x201C},
      {"rdblquote", 0x201D}, {"emspace", 0x2003}, {"enspace", 0x2002}};
  for (const auto& [name, sign] : kSigns)
    if (word == name) return sign;
  return 0;
}

// Windows-1252 for 0x80..0x9F; the other bytes are Latin-1. 0 marks the unused codes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

QChar FromCp1252(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0 && kCp1252High[byte - 0x80] != 0)
    return QChar(kCp1252High[byte - 0x80]);
  return QChar(static_cast<char16_t>(byte));
}

// Code pages of the fonts' symbol charset: the bytes are glyph numbers of the font, not
// letters. The list bullets word processors write are shown as the signs they stand for.
constexpr int kSymbolPage = -1;
constexpr int kWingdingsPage = -2;
constexpr int kDefaultPage = 0;  // the document's code page

QChar FromSymbolFont(int page, unsigned char byte) {
  if (page == kSymbolPage && byte == 0xB7) return QChar(0x2022);
  if (page == kWingdingsPage) {
    static constexpr std::pair<unsigned char, char16_t> kBullets[] = {
        {0x6C, 0x25CF}, {0x6E, 0x25A0}, {0x71, 0x2751}, {0x76, 0x2756},
        {0xA7, 0x25AA}, {0xD8, 0x27A2}, {0xFC, 0x2713}};
    for (const auto& [glyph, sign] : kBullets)
      if (byte == glyph) return QChar(sign);
  }
  return FromCp1252(byte);
}

// The code page a font's \fcharset stands for; 0 (ANSI) and 1 (default) defer to the
// document's \ansicpg.
int CharsetCodePage(int charset) {
  static constexpr std::pair<int, int> kPages[] = {
      {2, kSymbolPage}, {77, 10000}, {128, 932},  {129, 949},  {130, 1361}, {134, 936},
      {136, 950},       {161, 1253}, {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256},
      {186, 1257},      {204, 1251}, {222, 874},  {238, 1250}, {254, 437},  {255, 850}};
  for (const auto& [set, page] : kPages)
    if (charset == set) return page;
  return kDefaultPage;
}

std::string IconvName(int page) {
  static constexpr std::pair<int, const char*> kNames[] = {
      {10000, "MACINTOSH"}, {10007, "MAC-CYRILLIC"}, {10029, "MAC-CENTRALEUROPE"},
      {20866, "KOI8-R"},    {21866, "KOI8-U"},       {28605, "ISO-8859-15"},
      {65001, "UTF-8"}};
  for (const auto& [known, name] : kNames)
    if (page == known) return name;
  if (page > 28590 && page < 28600) return "ISO-8859-" + std::to_string(page - 28590);
  return "CP" + std::to_string(page);
}

// Text bytes of a code page into UTF-16 through glibc's iconv, one converter per code page
// kept for the whole document. Windows-1252 is decoded here directly, and is the fallback for
// a code page iconv does not know and for a byte that is not valid in its code page.
class CodePages {
 public:
  CodePages() = default;
  CodePages(const CodePages&) = delete;
  CodePages& operator=(const CodePages&) = delete;
  ~CodePages() {
    for (auto& [page, cd] : converters_)
      if (cd != Invalid()) iconv_close(cd);
  }

  void Decode(int page, std::string_view bytes, QString& out) {
    if (page == kSymbolPage || page == kWingdingsPage) {
      for (const char b : bytes) out += FromSymbolFont(page, static_cast<unsigned char>(b));
      return;
    }
    const iconv_t cd = page == 1252 ? Invalid() : Converter(page);
    if (cd == Invalid()) {
      for (const char b : bytes) out += FromCp1252(static_cast<unsigned char>(b));
      return;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
      char buffer[1024];
      char* to = buffer;
      size_t toLeft = sizeof buffer;
      const size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
      out += QString::fromUtf8(buffer, to - buffer);
      if (done == static_cast<size_t>(-1) && errno != E2BIG) {
        // An invalid or cut sequence: this byte alone, as Windows-1252, and go on after it.
        out += FromCp1252(static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
      }
    }
  }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

  iconv_t Converter(int page) {
    const auto found = converters_.find(page);
    if (found != converters_.end()) return found->second;
    const iconv_t cd = iconv_open("UTF-8", IconvName(page).c_str());
    converters_.emplace(page, cd);
    return cd;
  }

  std::map<int, iconv_t> converters_;
};

// Word processors take sizes from 1 to 1638 points, in half points.
constexpr int kMinHalfPoints = 2;
constexpr int kMaxHalfPoints = 3276;

// Every distinct font (family, size, weight, slant) costs the layout a font lookup of its own.
// A document asking for more than this many gets the nearest of those already in use.
constexpr size_t kFontBudget = 48;

// Each run of text in a format of its own costs the text document and its layout far more
// than its characters do, and the layout takes a paragraph's runs all at once. A document with
// more changes of format than these (in all, or in one paragraph) shows the rest of its text
// (or of the paragraph) in the last format.
constexpr size_t kRunBudget = 32768;
constexpr size_t kParagraphRunBudget = 1024;

// Groups nested deeper than this are read as if they were not groups, so the state kept per
// open group stays bounded whatever the input.
constexpr size_t kMaxGroupDepth = 512;

// Ceilings for what the tables and caches hold, whatever the input: entries of the font and
// colour tables, bytes of a font name, and formats made. Past them, entries are dropped and
// new looks keep the last format.
constexpr size_t kTableLimit = 65536;
constexpr size_t kFontNameLimit = 256;

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

  auto Look() const {
    return std::tie(bold, italic, underline, color, highlight, font, halfPoints);
  }
  bool SameLook(const State& o) const { return Look() == o.Look(); }
};

struct FontEntry {
  QString name;
  int codePage = kDefaultPage;
};

// What a font lookup is keyed by: the family (as a font table index, -1 for none), the size
// and the style.
struct FontKey {
  int font;
  int halfPoints;
  bool bold;
  bool italic;
  auto Tie() const { return std::tie(font, halfPoints, bold, italic); }
  bool operator<(const FontKey& o) const { return Tie() < o.Tie(); }
};

bool IsSkippedDestination(std::string_view word) {
  static constexpr std::string_view kSkipped[] = {
      "annotation", "author",        "bkmkend",
      "bkmkstart",  "buptim",        "colorschememapping",
      "comment",    "creatim",       "datastore",
      "docvar",     "doccomm",       "filetbl",
      "fldinst",    "footer",        "footerf",
      "footerl",    "footerr",       "footnote",
      "generator",  "header",        "headerf",
      "headerl",    "headerr",       "info",
      "keywords",   "latentstyles",  "listoverridetable",
      "listtable",  "mmathPr",       "nonshppict",
      "object",     "operator",      "pgdsctbl",
      "pict",       "printim",       "private",
      "revtbl",     "revtim",        "rsidtbl",
      "shp",        "shpinst",       "stylesheet",
      "subject",    "themedata",     "title",
      "txe",        "userprops",     "xe",
      "xmlnstbl",   "wgrffmtfilter", "pnseclvl",
      "pntxta",     "pntxtb"};
  for (std::string_view s : kSkipped)
    if (s == word) return true;
  return false;
}

class Reader {
 public:
  Reader(std::string_view in, QTextDocument& doc) : in_(in), cursor_(&doc) {}

  void Run() {
    cursor_.beginEditBlock();
    RtfTokenizer(in_).Run(*this);
    Flush();
    cursor_.endEditBlock();
  }

  // The tokenizer's sink.
  bool GroupStart() {
    Flush();
    if (stack_.size() < kMaxGroupDepth) {
      stack_.push_back(state_);
    } else {
      ++flatDepth_;
    }
    skipBytes_ = 0;
    starPending_ = false;
    return true;
  }

  bool GroupEnd() {
    Flush();
    EndGroup();
    skipBytes_ = 0;
    return CloseGroup();
  }

  bool Token(const RtfToken& t) {
    switch (t.kind) {
      case RtfToken::Kind::Text:
        for (const char c : t.text) Byte(static_cast<unsigned char>(c));
        break;
      case RtfToken::Kind::Word:
        ControlWord(t);
        break;
      case RtfToken::Kind::HexByte:
        Byte(t.byte);
        break;
      case RtfToken::Kind::Symbol:
        Symbol(t.symbol);
        break;
      case RtfToken::Kind::Binary:
        break;  // pictures and objects: nothing to show
    }
    return true;
  }

 private:
  // Leaves the group a "}" ends; false once the document's own group has ended.
  bool CloseGroup() {
    if (flatDepth_ > 0) {
      // A group read flat keeps its look, but a destination it opened ends with it.
      if (flatDepth_ == flatDestinationDepth_) {
        state_.destination = flatDestinationRestore_;
        flatDestinationDepth_ = 0;
      }
      --flatDepth_;
      return true;
    }
    if (stack_.empty()) return false;
    state_ = stack_.back();
    stack_.pop_back();
    return !stack_.empty();
  }

  void Symbol(char c) {
    switch (c) {
      case '~':
        Char(QChar(0x00A0));
        break;
      case '_':
        Char(QChar(0x2011));
        break;
      case '*':
        starPending_ = true;
        break;
      case '\r':
      case '\n':
        Char(QLatin1Char('\n'));
        break;
      default:
        break;  // \- (optional hyphen) and unknown symbols show nothing
    }
  }

  void ControlWord(const RtfToken& t) {
    // Text bytes read so far belong to the look and code page before this word.
    DecodeBytes();
    const Destination before = state_.destination;
    Word(t.text, t.hasParam, static_cast<int>(std::clamp<long long>(t.param, -1000000, 1000000)));
    if (flatDepth_ > 0 && flatDestinationDepth_ == 0 && state_.destination != before) {
      flatDestinationDepth_ = flatDepth_;
      flatDestinationRestore_ = before;
    }
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
        fontEntry_ = FontEntry{};
        fontBytes_.clear();
        fontCharset_ = kDefaultPage;
      } else if (word == "fcharset" && hasParam) {
        fontCharset_ = CharsetCodePage(param);
        if (fontEntry_.codePage == kDefaultPage) fontEntry_.codePage = fontCharset_;
      } else if (word == "cpg" && hasParam && param > 0) {
        fontEntry_.codePage = param;  // an explicit code page wins over the charset
      }
      return;
    }
    if (state_.destination == Destination::ColorTable) {
      const int v = std::clamp(param, 0, 255);
      if (word == "red")
        pending_.setRed(v);
      else if (word == "green")
        pending_.setGreen(v);
      else if (word == "blue")
        pending_.setBlue(v);
      else
        return;
      colorPending_ = true;
      return;
    }
    const bool on = !hasParam || param != 0;
    if (word == "par" || word == "line" || word == "sect" || word == "page" || word == "row")
      Char(QLatin1Char('\n'));
    else if (word == "tab" || word == "cell")
      Char(QLatin1Char('\t'));
    else if (const char16_t sign = SymbolWord(word))
      Char(QChar(sign));
    else if (word == "b")
      state_.bold = on;
    else if (word == "i")
      state_.italic = on;
    else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" || word == "uldash")
      state_.underline = on;
    else if (word == "ulnone")
      state_.underline = false;
    else if (word == "cf")
      state_.color = std::max(param, 0);
    else if (word == "highlight" || word == "cb")
      state_.highlight = std::max(param, 0);
    else if (word == "f" && hasParam)
      state_.font = param;
    else if (word == "fs" && hasParam && param > 0)
      state_.halfPoints = std::clamp(param, kMinHalfPoints, kMaxHalfPoints);
    else if (word == "uc" && hasParam)
      state_.unicodeSkip = std::clamp(param, 0, 16);
    else if (word == "ansicpg" && hasParam && param > 0)
      documentPage_ = param;
    else if (word == "mac")
      documentPage_ = 10000;
    else if (word == "pc")
      documentPage_ = 437;
    else if (word == "pca")
      documentPage_ = 850;
    else if (word == "deff" && hasParam)
      defaultFont_ = param;
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

  // One byte of text in the current code page (or a ";" of a table). Bytes are gathered and
  // decoded together, so a double-byte character written as two \'hh reads as one.
  void Byte(unsigned char b) {
    if (skipBytes_ > 0) {
      --skipBytes_;
      return;
    }
    switch (state_.destination) {
      case Destination::Skip:
        return;
      case Destination::FontTable:
        if (b == ';') {
          EndFontEntry();
        } else {
          if (fontBytes_.size() < kFontNameLimit) fontBytes_ += static_cast<char>(b);
        }
        return;
      case Destination::ColorTable:
        if (b == ';') {
          if (colors_.size() < kTableLimit) colors_.push_back(colorPending_ ? pending_ : QColor());
          pending_ = QColor(0, 0, 0);
          colorPending_ = false;
        }
        return;
      case Destination::Text:
        bytes_ += static_cast<char>(b);
        return;
    }
  }

  // The code page of the text: the current font's, else the document's.
  int TextCodePage() const {
    auto f = fonts_.find(state_.font < 0 ? defaultFont_ : state_.font);
    const int page = f != fonts_.end() ? f->second.codePage : kDefaultPage;
    return page != kDefaultPage ? page : documentPage_;
  }

  void DecodeBytes() {
    if (bytes_.empty()) return;
    QString text;
    codePages_.Decode(TextCodePage(), bytes_, text);
    bytes_.clear();
    for (const QChar c : text) Char(c);
  }

  void Char(QChar c) {
    if (state_.destination != Destination::Text) return;
    DecodeBytes();
    // The text box takes these for block breaks of its own; they are not text.
    if (c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1) c = QChar(QChar::ReplacementCharacter);
    // A change of look that ends in the same format (a size beyond the clamp, a font beyond
    // the budget) continues the run.
    // Past the budget of runs, the rest of the text keeps the last run's format.
    if (!run_.isEmpty() && !runState_.SameLook(state_)) {
      if (Format(state_) != runFormat_ && runs_ < kRunBudget &&
          paragraphRuns_ < kParagraphRunBudget)
        Flush();
      runState_ = state_;
    }
    if (run_.isEmpty()) {
      runState_ = state_;
      runFormat_ = Format(state_);
    }
    run_ += c;
    if (c == QLatin1Char('\n')) paragraphRuns_ = 0;
  }

  void EndFontEntry() {
    if (fontIndex_ >= 0) {
      // A symbol font's name is in the document's code page like any other.
      const int page = fontEntry_.codePage;
      codePages_.Decode(page == kDefaultPage || page == kSymbolPage ? documentPage_ : page,
                        fontBytes_, fontEntry_.name);
      fontEntry_.name = fontEntry_.name.trimmed();
      if (fontCharset_ == kSymbolPage &&
          fontEntry_.name.startsWith(QLatin1String("Wingdings"), Qt::CaseInsensitive))
        fontEntry_.codePage = kWingdingsPage;
      if (fonts_.size() < kTableLimit || fonts_.count(fontIndex_)) fonts_[fontIndex_] = fontEntry_;
    }
    fontEntry_ = FontEntry{};
    fontBytes_.clear();
    fontCharset_ = kDefaultPage;
  }

  void EndGroup() {
    // A font entry closed without its ";".
    if (state_.destination == Destination::FontTable && fontIndex_ >= 0 && !fontBytes_.empty())
      EndFontEntry();
  }

  void Flush() {
    DecodeBytes();
    if (run_.isEmpty()) return;
    cursor_.insertText(run_, *runFormat_);
    ++runs_;
    ++paragraphRuns_;
    run_.clear();
  }

  // One format per look, made once; looks that come out alike share one.
  const QTextCharFormat* Format(const State& look) {
    const LookKey key = look.Look();
    const auto found = lookFormats_.find(key);
    if (found != lookFormats_.end()) return found->second;
    if (lookFormats_.size() >= kTableLimit) lookFormats_.clear();  // only a shortcut
    const FontKey font = Font({look.font, look.halfPoints, look.bold, look.italic});
    const auto shown = std::make_tuple(font.bold, font.italic, look.underline, look.color,
                                       look.highlight, font.font, font.halfPoints);
    auto made = formats_.find(shown);
    if (made == formats_.end() && formats_.size() >= kTableLimit)
      return runFormat_ ? runFormat_ : &formats_.begin()->second;
    if (made == formats_.end()) {
      QTextCharFormat format;
      format.setFontWeight(font.bold ? QFont::Bold : QFont::Normal);
      format.setFontItalic(font.italic);
      format.setFontUnderline(look.underline);
      format.setFontPointSize(font.halfPoints / 2.0);
      // A symbol font's bytes have been read as the signs they stand for; the font itself,
      // where one by that name exists here, would not draw them.
      if (const auto f = fonts_.find(font.font); f != fonts_.end() && !f->second.name.isEmpty() &&
                                                 f->second.codePage != kSymbolPage &&
                                                 f->second.codePage != kWingdingsPage)
        format.setFontFamilies(QStringList{f->second.name});
      const QColor text = TableColor(look.color);
      format.setForeground(text.isValid() ? text : QColor(Qt::black));
      if (const QColor back = TableColor(look.highlight); back.isValid())
        format.setBackground(back);
      made = formats_.emplace(shown, format).first;
    }
    return lookFormats_.emplace(key, &made->second).first->second;
  }

  // The font a look gets: itself while the budget lasts, else the nearest one in use (same
  // style first, then the same family, then the closest size).
  FontKey Font(FontKey want) {
    if (fontsUsed_.count(want) || fontsUsed_.size() < kFontBudget) {
      fontsUsed_.insert(want);
      return want;
    }
    FontKey best = *fontsUsed_.begin();
    long long bestCost = -1;
    for (const FontKey& k : fontsUsed_) {
      const long long cost =
          (k.bold != want.bold) * 4000000LL + (k.italic != want.italic) * 4000000LL +
          (k.font != want.font) * 10000LL + std::abs(k.halfPoints - want.halfPoints);
      if (bestCost < 0 || cost < bestCost) {
        best = k;
        bestCost = cost;
      }
    }
    return best;
  }

  QColor TableColor(int index) const {
    if (index <= 0 || static_cast<size_t>(index) >= colors_.size()) return {};
    return colors_[static_cast<size_t>(index)];
  }

  std::string_view in_;
  QTextCursor cursor_;
  State state_;
  std::vector<State> stack_;
  size_t flatDepth_ = 0;             // groups opened beyond kMaxGroupDepth and not yet closed
  size_t flatDestinationDepth_ = 0;  // the flat group that changed the destination, or 0
  Destination flatDestinationRestore_ = Destination::Text;
  bool starPending_ = false;
  int skipBytes_ = 0;
  std::string bytes_;  // text bytes not yet decoded
  QString run_;
  State runState_;
  CodePages codePages_;
  int documentPage_ = 1252;
  int defaultFont_ = -1;
  std::map<int, FontEntry> fonts_;
  int fontIndex_ = -1;
  FontEntry fontEntry_;
  int fontCharset_ = kDefaultPage;
  std::string fontBytes_;
  using LookKey = std::tuple<bool, bool, bool, int, int, int, int>;
  std::map<LookKey, const QTextCharFormat*> lookFormats_;
  std::map<LookKey, QTextCharFormat> formats_;
  const QTextCharFormat* runFormat_ = nullptr;
  size_t runs_ = 0;
  size_t paragraphRuns_ = 0;  // runs since the last paragraph break
  std::set<FontKey> fontsUsed_;
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
