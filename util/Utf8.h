// UTF-8 taken apart and put together, one code point at a time: the one rule the search, the
// command line's escapes and the window's byte-keeping text share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

// The length (1 to 4) of the valid UTF-8 sequence that bytes begin with, its code point in c;
// 0 when they begin with none (a stray, overlong, surrogate or cut sequence).
size_t DecodeUtf8At(std::string_view bytes, char32_t& c);

// Writes c (a Unicode scalar value) as UTF-8 to out, which has room for 4 bytes; returns the
// number of bytes written.
inline size_t PutUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

inline void AppendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, PutUtf8(c, bytes));
}

}  // namespace vorn
