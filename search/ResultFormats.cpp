#include "ResultFormats.h"

#include <charconv>

#include "Utf8.h"

namespace vorn {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendNumber(std::string& out, size_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n);
  out.append(digits, end.ptr);
}

// The escaped form of text, or false (out then holds part of it) at the first byte that
// begins no valid UTF-8. Controls (C0, DEL, C1) and the characters that reorder text are
// escaped, as vorn-find escapes them.
bool AppendEscaped(std::string& out, std::string_view text) {
  size_t run = 0;
  size_t i = 0;
  const auto flush = [&] { out.append(text.substr(run, i - run)); };
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
    if (c == '"' || c == '\\') {
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out.push_back('n');
    } else if (c == '\r') {
      out.push_back('r');
    } else if (c == '\t') {
      out.push_back('t');
    } else {
      const char code[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      out.append(code, sizeof code);
    }
    run = ++i;
  }
  flush();
  return true;
}

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    const char four[] = {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63],
                         kDigits[v & 63]};
    out.append(four, 4);
  }
  if (i == bytes.size()) return;
  unsigned v = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << 16;
  if (i + 1 < bytes.size())
    v |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  out.push_back(kDigits[v >> 18]);
  out.push_back(kDigits[(v >> 12) & 63]);
  out.push_back(i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=');
  out.push_back('=');
}

// A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line break.
void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (const char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

}  // namespace

void AppendJsonBytes(std::string& out, std::string_view bytes) {
  const size_t start = out.size();
  out.append("{\"text\":\"");
  if (AppendEscaped(out, bytes)) {
    out.append("\"}");
    return;
  }
  out.resize(start);
  out.append("{\"bytes\":\"");
  AppendBase64(out, bytes);
  out.append("\"}");
}

std::string_view ResultHeader(ResultFormat format) {
  return format == ResultFormat::Csv ? "path,line,column,text\r\n" : "";
}

void AppendResultRecord(std::string& out, ResultFormat format, const SearchHit& hit) {
  switch (format) {
    case ResultFormat::Lines:
      AppendResultLine(out, hit);
      out.push_back('\n');
      return;
    case ResultFormat::Csv:
      AppendCsvField(out, hit.path);
      out.push_back(',');
      AppendNumber(out, hit.lineIndex + 1);
      out.push_back(',');
      if (!hit.matches.empty()) AppendNumber(out, hit.matches.front().begin + 1);
      out.push_back(',');
      AppendCsvField(out, hit.text);
      out.append("\r\n");
      return;
    case ResultFormat::JsonLines:
      out.append("{\"type\":\"match\",\"path\":");
      AppendJsonBytes(out, hit.path);
      out.append(",\"line\":");
      AppendNumber(out, hit.lineIndex);
      out.append(",\"text\":");
      AppendJsonBytes(out, hit.text);
      out.append(",\"matches\":[");
      for (size_t i = 0; i < hit.matches.size(); ++i) {
        if (i > 0) out.push_back(',');
        out.append("{\"start\":");
        AppendNumber(out, hit.matches[i].begin);
        out.append(",\"end\":");
        AppendNumber(out, hit.matches[i].end);
        out.push_back('}');
      }
      out.append("]}\n");
      return;
  }
}

}  // namespace vorn
