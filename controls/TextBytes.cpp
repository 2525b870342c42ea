#include "TextBytes.h"

#include <cstdint>
#include <string_view>

#include "Utf8.h"

namespace vorn {

namespace {

constexpr char16_t kKeptByteBase = 0xDC00;  // U+DC80-U+DCFF stand for the bytes 0x80-0xFF

bool IsKeptByte(char16_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

}  // namespace

QString FromBytes(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = p + bytes.size();
  const auto* ascii = p;
  while (ascii < end && *ascii < 0x80) ++ascii;
  if (ascii == end) return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));

  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (; p < ascii; ++p) out += QChar(char16_t{*p});
  while (p < end) {
    if (*p < 0x80) {
      out += QChar(char16_t{*p++});
      continue;
    }
    char32_t code = 0;
    const auto n = static_cast<int>(DecodeUtf8At(
        std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p)), code));
    if (n == 0) {
      out += QChar(static_cast<char16_t>(kKeptByteBase + *p++));
      continue;
    }
    if (code >= 0x10000) {
      out += QChar(QChar::highSurrogate(code));
      out += QChar(QChar::lowSurrogate(code));
    } else {
      out += QChar(static_cast<char16_t>(code));
    }
    p += n;
  }
  return out;
}

std::string ToBytes(QStringView text) {
  const QChar* const data = text.data();
  const qsizetype size = text.size();
  std::string out;
  out.reserve(static_cast<size_t>(size));
  for (qsizetype i = 0; i < size; ++i) {
    const char16_t u = data[i].unicode();
    if (u < 0x80) {
      out += static_cast<char>(u);
      continue;
    }
    char32_t code = u;
    if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(data[i + 1].unicode())) {
      code = QChar::surrogateToUcs4(u, data[++i].unicode());
    } else if (IsKeptByte(u)) {
      out += static_cast<char>(u - kKeptByteBase);
      continue;
    } else if (QChar::isSurrogate(u)) {
      code = QChar::ReplacementCharacter;  // a surrogate no byte came from has no UTF-8 form
    }
    AppendUtf8(out, code);
  }
  return out;
}

QString ShownText(QStringView text) {
  QString out = text.toString();
  for (QChar& c : out) {
    const char16_t u = c.unicode();
    if ((u < 0x20 && u != u'\t'))
      c = QChar(static_cast<char16_t>(0x2400 + u));  // the control pictures, "␀" to "␟"
    else if (u == 0x7F)
      c = QChar(char16_t{0x2421});  // "␡"
    else if (IsKeptByte(u))
      c = QChar(QChar::ReplacementCharacter);
  }
  return out;
}

}  // namespace vorn
