#include "LineBreaks.h"

#include <algorithm>
#include <cstddef>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "PatternScanner.h"

namespace vorn {

const char* FindNextBreak(const char* p, const char* end) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
    if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  for (; p < end; ++p)
    if (IsBreakByte(*p)) return p;
  return end;
}

const char* FindLastBreak(const char* begin, const char* p) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  for (; p - begin >= 16; p -= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 16));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)));
    if (mask) return p - 16 + (31 - __builtin_clz(static_cast<unsigned>(mask)));
  }
#endif
  while (p > begin)
    if (IsBreakByte(*--p)) return p;
  return nullptr;
}

#ifdef __SSE2__
// The sum of 32 byte counters.
__attribute__((target("avx2"), always_inline)) static inline size_t SumBytes(__m256i acc) {
  const __m256i sums = _mm256_sad_epu8(acc, _mm256_setzero_si256());
  return static_cast<size_t>(_mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
                             _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3));
}

// 32 bytes at a time where the processor has AVX2; returns where it stopped. Most text has no
// CR: a round of bytes is first counted by its LFs alone, and only a round that holds a CR is
// counted again the full way (as is the round after it, since CRs come in files, not alone).
__attribute__((target("avx2"))) static const char* CountBreaksWide(const char* p, const char* end,
                                                                   size_t& count) {
  const __m256i lf = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r');
  const __m256i zero = _mm256_setzero_si256();
  bool crSeen = false;
  while (end - p >= 33) {
    const std::ptrdiff_t rounds = std::min<std::ptrdiff_t>(255, (end - p - 1) / 32);
    if (!crSeen) {
      __m256i acc = zero, crs = zero;
      for (std::ptrdiff_t round = 0; round < rounds; ++round) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * round));
        acc = _mm256_sub_epi8(acc, _mm256_cmpeq_epi8(v, lf));
        crs = _mm256_or_si256(crs, _mm256_cmpeq_epi8(v, cr));
      }
      if (_mm256_testz_si256(crs, crs)) {
        count += SumBytes(acc);
        p += 32 * rounds;
        continue;
      }
    }
    // Per byte: +1 for LF, +1 for CR, -1 for a CR directly followed by LF.
    __m256i acc = zero, crs = zero;
    for (std::ptrdiff_t round = 0; round < rounds; ++round, p += 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
      const __m256i isLf = _mm256_cmpeq_epi8(v, lf);
      const __m256i isCr = _mm256_cmpeq_epi8(v, cr);
      const __m256i crLf = _mm256_and_si256(isCr, _mm256_cmpeq_epi8(next, lf));
      crs = _mm256_or_si256(crs, isCr);
      acc = _mm256_sub_epi8(acc, _mm256_or_si256(isLf, _mm256_andnot_si256(crLf, isCr)));
    }
    crSeen = !_mm256_testz_si256(crs, crs);
    count += SumBytes(acc);
  }
  return p;
}
#endif

size_t CountBreaks(const char* begin, const char* end) {
  size_t count = 0;
  const char* p = begin;
#ifdef __SSE2__
  if (HasAvx2()) p = CountBreaksWide(p, end, count);
  // Per byte: +1 for LF, +1 for CR, -1 for a CR directly followed by LF. Byte counters are
  // folded into the total before they can overflow.
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), zero = _mm_setzero_si128();
  while (end - p >= 17) {
    __m128i acc = zero;
    for (int round = 0; round < 255 && end - p >= 17; ++round, p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
      const __m128i isLf = _mm_cmpeq_epi8(v, lf);
      const __m128i isCr = _mm_cmpeq_epi8(v, cr);
      const __m128i crLf = _mm_and_si128(isCr, _mm_cmpeq_epi8(next, lf));
      acc = _mm_sub_epi8(acc, _mm_or_si128(isLf, _mm_andnot_si128(crLf, isCr)));
    }
    const __m128i sums = _mm_sad_epu8(acc, zero);
    count += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<size_t>(_mm_extract_epi16(sums, 4));
  }
#endif
  for (; p < end; ++p) {
    // A CR counts unless an LF follows, so CR LF is one break.
    if (*p == '\n' || (*p == '\r' && !(p + 1 < end && p[1] == '\n'))) ++count;
  }
  return count;
}

size_t LineCount(std::string_view buffer) {
  if (buffer.empty()) return 0;
  const size_t breaks = CountBreaks(buffer.data(), buffer.data() + buffer.size());
  return breaks + (IsBreakByte(buffer.back()) ? 0 : 1);
}

}  // namespace vorn
