#include "RtfTokenizer.h"

#include <algorithm>

namespace vorn {

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int Hex(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

}  // namespace

bool RtfTokenizer::Control(size_t& at, RtfToken& token) const {
  const size_t i = at + 1;  // after the backslash
  if (i >= in_.size()) {
    at = in_.size();  // a backslash that ends the bytes stands for nothing
    return false;
  }
  const char c = in_[i];
  if (!IsLetter(c)) {
    at = i + 1;
    if (c == '\\' || c == '{' || c == '}') {
      token.kind = RtfToken::Kind::Text;
      token.text = in_.substr(i, 1);
    } else if (c == '\'' && i + 2 < in_.size() && IsHex(in_[i + 1]) && IsHex(in_[i + 2])) {
      token.kind = RtfToken::Kind::HexByte;
      token.byte = static_cast<unsigned char>(Hex(in_[i + 1]) * 16 + Hex(in_[i + 2]));
      at = i + 3;
    } else {
      token.kind = RtfToken::Kind::Symbol;
      token.symbol = c;
    }
    return true;
  }
  size_t end = i;
  while (end < in_.size() && end - i < kMaxWordLength && IsLetter(in_[end])) ++end;
  token.text = in_.substr(i, end - i);
  bool negative = false;
  if (end < in_.size() && in_[end] == '-') {
    negative = true;
    ++end;
  }
  long long param = 0;
  size_t digits = 0;
  for (; end < in_.size() && IsDigit(in_[end]); ++end, ++digits)
    if (digits < kMaxParamDigits) param = param * 10 + (in_[end] - '0');
  token.hasParam = digits > 0;
  token.param = negative ? -param : param;
  if (end < in_.size() && in_[end] == ' ') ++end;  // the delimiting blank belongs to the word
  if (token.text == "bin" && token.hasParam && token.param > 0) {
    token.kind = RtfToken::Kind::Binary;
    token.text = in_.substr(end, std::min(static_cast<size_t>(token.param), in_.size() - end));
    at = end + token.text.size();
    return true;
  }
  token.kind = RtfToken::Kind::Word;
  at = end;
  return true;
}

bool RtfTokenizer::Text(size_t& at, RtfToken& token) const {
  size_t end = at + 1;
  while (end < in_.size()) {
    const char c = in_[end];
    if (c == '{' || c == '}' || c == '\\' || c == '\r' || c == '\n') break;
    ++end;
  }
  token.kind = RtfToken::Kind::Text;
  token.text = in_.substr(at, end - at);
  at = end;
  return true;
}

}  // namespace vorn
