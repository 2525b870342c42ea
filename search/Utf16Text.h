// Files that begin with a byte-order mark: UTF-16 text (what Windows editors write) is searched
// and shown as its UTF-8 text, and a UTF-8 mark belongs to no line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

enum class TextMark { None, Utf8, Utf16LE, Utf16BE };

// The mark at the start of bytes. Bytes that may still become one (a lone "\xEF\xBB" where
// more is to come) give None: the caller decides with enough bytes, or with all there are.
TextMark MarkAt(std::string_view bytes);
inline size_t MarkLength(TextMark mark) {
  return mark == TextMark::Utf8 ? 3 : (mark == TextMark::None ? 0 : 2);
}

// UTF-16 to UTF-8 as a stream: the input may be cut anywhere between calls, and so may the
// output, so every call can fill its output to the last byte. A lone surrogate becomes
// U+FFFD, and so does a last odd byte.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}

  // Decodes from in into out, writing at most room bytes; returns the bytes written and sets
  // used to the input bytes taken. With last, in ends the text: what is left over is decoded.
  size_t Decode(std::string_view in, char* out, size_t room, size_t& used, bool last);

  bool BigEndian() const { return bigEndian_; }
  // Nothing held back, neither input bytes nor output bytes.
  bool Idle() const { return heldIn_ == 0 && heldOut_ == heldOutAt_; }

 private:
  // Whole characters of [p, end) while the output has room; stops before a character whose
  // start only is there, unless last. Returns where it stopped.
  const unsigned char* Run(const unsigned char* p, const unsigned char* end, char* out, size_t room,
                           size_t& made, bool last);
  size_t Emit(char32_t c, char* out, size_t room);
  char16_t Unit(const unsigned char* p) const {
    return bigEndian_ ? static_cast<char16_t>(p[0] << 8 | p[1])
                      : static_cast<char16_t>(p[1] << 8 | p[0]);
  }

  bool bigEndian_;
  unsigned char in_[3] = {};  // the start of a unit or of a surrogate pair
  size_t heldIn_ = 0;
  char out_[4] = {};  // the rest of a character the output had no room for
  size_t heldOut_ = 0, heldOutAt_ = 0;
};

// Bytes that begin with a UTF-16 mark: their UTF-8 text (the mark dropped) into text, and true.
// Other bytes: false, and text is left alone.
bool DecodeMarkedUtf16(std::string_view bytes, std::string& text);

}  // namespace vorn
