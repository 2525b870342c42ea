#include "txthandling.h"

namespace vorn {

std::string RemoveChar(std::string_view text, char c) {
  std::string out;
  out.reserve(text.size());
  for (char b : text)
    if (b != c) out.push_back(b);
  return out;
}

bool HasSubstring(std::string_view text, std::string_view part) {
  if (text.empty() || part.empty() || text.size() < part.size()) return false;
  return text.find(part) != std::string_view::npos;
}

std::string AsciiUpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string_view Trimmed(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  size_t b = 0, e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string GetField(std::string_view text, int n, char separator) {
  if (n < 1) return {};
  size_t start = 0;
  for (int field = 1;; ++field) {
    // text + separator: the last piece ends at the end of the text.
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (field == n) return std::string(text.substr(start, end - start));
    if (end == text.size()) return {};
    start = end + 1;
  }
}

std::string TextBetween(std::string_view text, char open, char close) {
  const size_t o = text.find(open);
  const size_t c = text.find(close);
  if (o == std::string_view::npos || c == std::string_view::npos || c < o + 2) return {};
  return std::string(text.substr(o + 1, c - o - 1));
}

std::string ReplaceChar(std::string_view text, char from, char to) {
  std::string out(text);
  for (char& b : out)
    if (b == from) b = to;
  return out;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace vorn
