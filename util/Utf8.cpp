#include "Utf8.h"

namespace vorn {

size_t DecodeUtf8At(std::string_view bytes, char32_t& c) {
  if (bytes.empty()) return 0;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (b[0] < 0x80) {
    c = b[0];
    return 1;
  }
  size_t length = 0;
  char32_t min = 0;
  if (b[0] >= 0xC2 && b[0] <= 0xDF) {
    length = 2, min = 0x80, c = b[0] & 0x1F;
  } else if (b[0] >= 0xE0 && b[0] <= 0xEF) {
    length = 3, min = 0x800, c = b[0] & 0x0F;
  } else if (b[0] >= 0xF0 && b[0] <= 0xF4) {
    length = 4, min = 0x10000, c = b[0] & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((b[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b[i] & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

}  // namespace vorn
