#include "JsonText.h"

#include "Utf8.h"

namespace vorn {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Appends text's escaped form and returns true, or returns false (out then holds a part of
// it) at the first byte that does not begin valid UTF-8.
bool AppendEscapedUtf8(std::string& out, std::string_view text) {
  size_t run = 0;  // bytes from here on that are written as they are
  size_t i = 0;
  auto flush = [&] { out.append(text.substr(run, i - run)); };
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      char32_t code = 0;
      const size_t n = DecodeUtf8At(text.substr(i), code);
      if (n == 0) return false;
      // The C1 controls and those that reorder text are escaped too, so the stream is as
      // safe to show at a terminal as the result lines are.
      if (code <= 0x9F || (code >= 0x202A && code <= 0x202E) ||
          (code >= 0x2066 && code <= 0x2069)) {
        flush();
        const char escaped[] = {'\\',
                                'u',
                                kHex[(code >> 12) & 15],
                                kHex[(code >> 8) & 15],
                                kHex[(code >> 4) & 15],
                                kHex[code & 15]};
        out.append(escaped, sizeof escaped);
        run = i + n;
      }
      i += n;
      continue;
    }
    flush();
    out.push_back('\\');
    switch (c) {
      case '"':
      case '\\':
        out.push_back(static_cast<char>(c));
        break;
      case '\n':
        out.push_back('n');
        break;
      case '\r':
        out.push_back('r');
        break;
      case '\t':
        out.push_back('t');
        break;
      default: {
        const char code[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        out.append(code, sizeof code);
      }
    }
    run = ++i;
  }
  flush();
  return true;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  AppendEscapedUtf8(out, text);
  out.push_back('"');
}

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    const char four[] = {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63],
                         kDigits[v & 63]};
    out.append(four, 4);
  }
  if (i == bytes.size()) return;
  unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
  if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
  out.push_back(kDigits[v >> 18]);
  out.push_back(kDigits[(v >> 12) & 63]);
  out.push_back(i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=');
  out.push_back('=');
}

void AppendJsonData(std::string& out, std::string_view bytes) {
  const size_t start = out.size();
  out.append("{\"text\":\"");
  if (AppendEscapedUtf8(out, bytes)) {
    out.append("\"}");
    return;
  }
  out.resize(start);
  out.append("{\"bytes\":\"");
  AppendBase64(out, bytes);
  out.append("\"}");
}

}  // namespace vorn
