#include "IdRFCReply.h"

#include <strings.h>

#include <charconv>

#include "IdException.h"

namespace vorn {

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string From5th(std::string_view line) {
  return line.size() > 4 ? std::string(line.substr(4)) : std::string();
}

}  // namespace

bool TryStrToInt(std::string_view text, int& value) {
  text = TIdRFCReply::Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  int parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::string_view TIdRFCReply::Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

void TIdRFCReply::SetTextCode(std::string_view code) {
  TextCode = std::string(code);
  if (!TryStrToInt(code, NumericCode)) NumericCode = 0;
}

void TIdRFCReply::Clear() {
  NumericCode = 0;
  TextCode.clear();
  Text.clear();
}

std::string TIdRFCReply::FormattedText() const {
  std::string out;
  for (const auto& line : Text) {
    out += line;
    out += "\r\n";
  }
  return out;
}

std::vector<std::string> TIdRFCReply::ReadLines(const std::function<std::string()>& readLine) {
  int budget = kMaxReplyLines;
  const auto next = [&] {
    if (budget-- <= 0) {
      throw EIdException("Reply too long: more than " + std::to_string(kMaxReplyLines) + " lines.");
    }
    return std::string(Trim(readLine()));
  };
  std::vector<std::string> lines;
  std::string first;
  while (first.empty()) first = next();
  lines.push_back(first);
  if (first.size() > 3 && first[3] == '-') {
    const std::string endMarker = first.substr(0, 3) + ' ';
    for (;;) {
      const std::string line = next();
      if (line.empty()) continue;
      lines.push_back(line);
      if (line.size() < 4 || SameIgnoringCase(line.substr(0, 4), endMarker)) break;
    }
  }
  return lines;
}

void TIdRFCReply::Parse(const std::vector<std::string>& lines) {
  Clear();
  if (lines.empty()) return;
  std::string code;
  for (const char c : std::string_view(lines[0]).substr(0, 4)) {
    if (c != ' ') code += c;
  }
  if (code.size() == 4 && code.back() == '-') code.pop_back();
  SetTextCode(code);
  Text.push_back(From5th(lines[0]));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.size() >= 3 && SameIgnoringCase(line.substr(0, 3), code)) {
      Text.push_back(From5th(line));
    } else {
      while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
      Text.emplace_back(line);
    }
  }
}

}  // namespace vorn
