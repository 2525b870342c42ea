#include "ResultActions.h"

#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QVariant>
#include <Qt>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "About.h"
#include "Browser.h"
#include "Packed.h"
#include "TextBytes.h"
#include "TextEditor.h"
#include "io.h"
#include "txthandling.h"
#include "vornUnit2.h"

namespace vorn {

namespace {

// The words of a found line: tabs and semicolons separate like blanks.
std::vector<std::string> Words(std::string_view text) {
  const std::string t = ReplaceChar(ReplaceChar(text, '\t', ' '), ';', ' ');
  std::vector<std::string> words;
  size_t i = 0;
  while (i < t.size()) {
    while (i < t.size() && t[i] == ' ') ++i;
    const size_t start = i;
    while (i < t.size() && t[i] != ' ') ++i;
    if (i > start) words.push_back(t.substr(start, i - start));
  }
  return words;
}

std::string SearchAddress(const std::string& query) {
  return std::string("http://") + VORN_SEARCH_HOST + "/search?q=" + PercentEncode(query);
}

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (size_t{1} << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

}  // namespace

void ShowFile(const std::optional<SearchHit>& hit) {
  if (hit && Form2) Form2->ShowResultInViewer(*hit);
}

bool IsEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

std::string ContainingFolder(std::string_view path) {
  // An archive member's folder is the archive's.
  std::string archive, member;
  if (path.find(kMemberMark) != std::string_view::npos && SplitMember(path, archive, member))
    path = archive;
  const size_t slash = path.rfind('/');
  std::string folder(slash == std::string_view::npos ? std::string_view()
                                                     : path.substr(0, slash + 1));
  if (folder.empty() || folder.front() != '/')
    folder = AddTrailingBackslash(CurrentDirectory()) + folder;
  return folder;
}

void StartOrThrow(const std::vector<std::string>& arguments, const std::string& what) {
  const int error = StartProgramReporting(arguments);
  if (error != 0)
    throw std::runtime_error("Could not start " + arguments.front() + " to " + what + ": " +
                             std::strerror(error));
}

void OpenContainingFolder(const std::optional<SearchHit>& hit) {
  if (hit) StartOrThrow({"xdg-open", ContainingFolder(hit->path)}, "open the folder");
}

void OpenInEditor(const std::optional<SearchHit>& hit) {
  if (!hit) return;
  EditorTarget target{std::string(hit->path), hit->lineIndex + 1, 1, 1};
  if (!hit->matches.empty()) {
    const size_t at = std::min(hit->matches.front().begin, hit->text.size());
    target.byteColumn = at + 1;
    // Characters: every byte but those that continue a UTF-8 sequence.
    for (size_t i = 0; i < at; ++i)
      target.column += (static_cast<unsigned char>(hit->text[i]) & 0xC0) != 0x80 ? 1 : 0;
  }
  std::string why;
  const std::vector<std::string> command = TextEditorCommand(target, &why);
  if (command.empty()) throw std::runtime_error("Cannot open the file in a text editor: " + why);
  StartOrThrow(command, "open the file in the text editor");
}

void CopyResultLines(const std::string& lines) {
  // Bytes that are not UTF-8 go to the clipboard as U+FFFD; the rest exactly.
  QString text = FromBytes(lines);
  for (QChar& c : text)
    if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF) c = QChar(QChar::ReplacementCharacter);
  QGuiApplication::clipboard()->setText(text);
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    const bool unreserved = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                            (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' || b == '~';
    if (unreserved) {
      out += ch;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::string NarrowSearchAddress(std::string_view text) {
  std::string query;
  for (const std::string& w : Words(text))
    if (w.size() >= 2) query += " " + w;
  return SearchAddress(query);
}

std::string WideSearchAddress(std::string_view text) {
  std::string query;
  int taken = 0;
  for (const std::string& w : Words(text)) {
    if (taken == 3) break;
    if (w.size() < 4) continue;
    query += " +" + w;  // the blank and the plus sign are encoded with the rest
    ++taken;
  }
  return SearchAddress(query);
}

namespace {

void Browse(const std::string& address) {
  if (const int error = OpenInBrowser(address); error != 0)
    throw std::runtime_error(std::string("Could not start xdg-open to open the address in the "
                                         "browser: ") +
                             std::strerror(error));
}

}  // namespace

void SearchInternetNarrow(const std::optional<SearchHit>& hit) {
  if (hit) Browse(NarrowSearchAddress(hit->text));
}

void SearchInternetWide(const std::optional<SearchHit>& hit) {
  if (hit) Browse(WideSearchAddress(hit->text));
}

std::string MakerHomePage() { return std::string("Http://") + VORN_MAKER_HOST + "/quillo/"; }

void OpenMakerHomePage() { Browse(MakerHomePage()); }

void ShowAboutWindow() {
  if (ABoutQuillo) ABoutQuillo->ShowModal();  // sets " Tessaly " on StaticText2 first
}

}  // namespace vorn
