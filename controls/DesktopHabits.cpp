#include "DesktopHabits.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

#include "TextBytes.h"
#include "txthandling.h"

namespace vorn {

namespace {

bool IsThisMachine(std::string_view host) {
  if (host.empty() || SameIgnoringAsciiCase(host, "localhost")) return true;
  const QByteArray own = QSysInfo::machineHostName().toUtf8();
  return !own.isEmpty() && SameIgnoringAsciiCase(host, std::string_view(own.data(), own.size()));
}

}  // namespace

bool LocalPathOfAddress(std::string_view address, std::string* path) {
  if (address.size() < 5 || !SameIgnoringAsciiCase(address.substr(0, 5), "file:")) return false;
  std::string_view rest = address.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos || !IsThisMachine(rest.substr(0, slash))) return false;
    rest.remove_prefix(slash);
  }
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.empty() || rest.front() != '/') return false;
  path->clear();
  for (size_t i = 0; i < rest.size(); ++i) {
    const int high = rest[i] == '%' && i + 2 < rest.size() ? HexDigit(rest[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(rest[i + 2]) : -1;
    if (low >= 0) {
      *path += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      *path += rest[i];
    }
  }
  // No file's path holds a NUL byte.
  return path->find('\0') == std::string::npos;
}

std::vector<std::string> DroppedPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    // The encoded form keeps escapes that are not UTF-8 as they came.
    const QByteArray encoded = url.toEncoded();
    std::string path;
    if (LocalPathOfAddress(std::string_view(encoded.data(), static_cast<size_t>(encoded.size())),
                           &path))
      paths.push_back(std::move(path));
  }
  return paths;
}

bool AcceptWithoutMove(QDropEvent* event, Qt::DropActions allowed) {
  const Qt::DropActions offered = event->possibleActions() & allowed;
  if (!(offered & (Qt::CopyAction | Qt::LinkAction))) {
    event->ignore();
    return false;
  }
  event->setDropAction(offered & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
  event->accept();
  return true;
}

bool IsAltChord(const QKeyEvent* key) {
  const Qt::KeyboardModifiers mods = key->modifiers();
  return (mods & Qt::AltModifier) && !(mods & Qt::ControlModifier) && !key->text().isEmpty() &&
         key->text().at(0).isPrint();
}

QString PlainToolTip(QStringView text) {
  const QString shown = ShownText(text);
  // A zero-width space after every character (not inside a surrogate pair) lets the tip
  // break the line anywhere; the escaping keeps markup as text.
  QString spaced;
  spaced.reserve(shown.size() * 2);
  for (qsizetype i = 0; i < shown.size(); ++i) {
    spaced += shown[i];
    if (!shown[i].isHighSurrogate()) spaced += QChar(0x200B);
  }
  return QStringLiteral("<p style=\"white-space:pre-wrap\">") + spaced.toHtmlEscaped() +
         QStringLiteral("</p>");
}

}  // namespace vorn
