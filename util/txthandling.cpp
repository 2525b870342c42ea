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

}  // namespace vorn
