#include "Utf16Text.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "Utf8.h"

namespace vorn {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

TextMark MarkAt(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) return TextMark::Utf8;
  if (bytes.starts_with("\xFF\xFE")) return TextMark::Utf16LE;
  if (bytes.starts_with("\xFE\xFF")) return TextMark::Utf16BE;
  return TextMark::None;
}

size_t Utf16Decoder::Emit(char32_t c, char* out, size_t room) {
  char bytes[4];
  const size_t length = PutUtf8(c, bytes);
  const size_t now = std::min(length, room);
  std::memcpy(out, bytes, now);
  if (now < length) {
    std::memcpy(out_, bytes + now, length - now);
    heldOut_ = length - now;
    heldOutAt_ = 0;
  }
  return now;
}

const unsigned char* Utf16Decoder::Run(const unsigned char* p, const unsigned char* end, char* out,
                                       size_t room, size_t& made, bool last) {
  while (made < room && heldOut_ == 0) {
#ifdef __SSE2__
    // Text that is mostly ASCII goes eight units at a time.
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16 && room - made >= 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      if (bigEndian_) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero)) != 0xFFFF) break;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + made), _mm_packus_epi16(v, v));
      made += 8;
      p += 16;
    }
    if (made == room) break;
#endif
    if (end - p < 2) {
      if (!last || p == end) break;
      made += Emit(kReplacement, out + made, room - made);  // a last odd byte
      p = end;
      continue;
    }
    char32_t c = Unit(p);
    size_t step = 2;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (end - p < 4) {
        if (!last) break;
        c = kReplacement;
      } else if (const char16_t low = Unit(p + 2); low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        step = 4;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    made += Emit(c, out + made, room - made);
    p += step;
  }
  return p;
}

size_t Utf16Decoder::Decode(std::string_view in, char* out, size_t room, size_t& used, bool last) {
  size_t made = 0;
  used = 0;
  while (heldOutAt_ < heldOut_ && made < room) out[made++] = out_[heldOutAt_++];
  if (heldOutAt_ < heldOut_) return made;
  heldOut_ = heldOutAt_ = 0;
  const auto* const start = reinterpret_cast<const unsigned char*>(in.data());
  const auto* const end = start + in.size();
  const unsigned char* p = start;
  if (heldIn_ > 0) {
    // The bytes held back, completed from the new input: four bytes decide a character.
    unsigned char joined[7];
    std::memcpy(joined, in_, heldIn_);
    const size_t added = std::min<size_t>(in.size(), 4);
    std::memcpy(joined + heldIn_, start, added);
    const size_t total = heldIn_ + added;
    const auto stop = static_cast<size_t>(
        Run(joined, joined + total, out, room, made, last && added == in.size()) - joined);
    if (stop < heldIn_) {
      if (heldOut_ == 0 && made < room) {
        // Still the start of a character only: all the input is held, with what was.
        std::memmove(in_, joined + stop, total - stop);
        heldIn_ = total - stop;
        used = in.size();
      } else {
        std::memmove(in_, joined + stop, heldIn_ - stop);
        heldIn_ -= stop;
      }
      return made;
    }
    p += stop - heldIn_;
    heldIn_ = 0;
  }
  p = Run(p, end, out, room, made, last);
  if (heldOut_ == 0 && made < room && p < end) {
    // The start of a character at the end of the input waits for the rest.
    heldIn_ = static_cast<size_t>(end - p);
    std::memcpy(in_, p, heldIn_);
    p = end;
  }
  used = static_cast<size_t>(p - start);
  return made;
}

bool DecodeMarkedUtf16(std::string_view bytes, std::string& text) {
  const TextMark mark = MarkAt(bytes);
  if (mark != TextMark::Utf16LE && mark != TextMark::Utf16BE) return false;
  bytes.remove_prefix(2);
  Utf16Decoder decoder(mark == TextMark::Utf16BE);
  // Each unit gives at most three bytes, a pair of them four; a last odd byte three.
  text.resize(bytes.size() / 2 * 3 + 3);
  size_t used = 0;
  text.resize(decoder.Decode(bytes, text.data(), text.size(), used, true));
  return true;
}

}  // namespace vorn
