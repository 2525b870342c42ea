#include "PatternScanner.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace vorn {

namespace {

// Rough rank of how common a byte is in text and source code: lower is rarer. The filter
// bytes are the pattern's rarest, so few candidates need the whole comparison.
int Commonness(unsigned char b) {
  if (b == ' ') return 255;
  if (std::strchr("etaoinsr", b) && b) return 220;
  if (b >= 'a' && b <= 'z') return 180;
  if (b == '\n' || b == '\t') return 170;
  if (std::strchr("_(),;.=*/-><\"{}#&[]:", b) && b) return 150;
  if (b >= '0' && b <= '9') return 130;
  if (std::strchr("ETAOINSR", b) && b) return 120;
  if (b >= 'A' && b <= 'Z') return 110;
  if (b >= 0x80) return 40;
  if (b < 32) return 20;
  return 60;
}

}  // namespace

bool HasAvx2() {
#ifdef __SSE2__
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

PatternScanner::PatternScanner(std::string_view pattern, const KeyTable* keys)
    : pattern_(pattern), keys_(keys) {
  if (keys_) {
    keyed_.resize(pattern_.size());
    for (size_t i = 0; i < pattern_.size(); ++i)
      keyed_[i] = static_cast<char>((*keys_)[static_cast<unsigned char>(pattern_[i])]);
  }
  if (pattern_.empty()) return;
  // Pick the three rarest positions whose byte classes have at most two members: three
  // compares cost little more than two and leave far fewer false candidates.
  std::vector<std::pair<int, ByteClass>> ranked;
  for (size_t i = 0; i < pattern_.size(); ++i) {
    const ByteClass c = ClassAt(i);
    if (c.count > 2) continue;
    ranked.emplace_back(Commonness(c.a) + (c.count == 2 ? Commonness(c.b) / 4 : 0), c);
  }
  if (ranked.empty()) return;  // no usable position: the scalar scan serves
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  first_ = ranked[0].second;
  second_ = ranked.size() > 1 ? ranked[1].second : first_;
  third_ = ranked.size() > 2 ? ranked[2].second : second_;
  vectorFilter_ = true;
}

PatternScanner::ByteClass PatternScanner::ClassAt(size_t offset) const {
  ByteClass c;
  c.offset = offset;
  const auto byte = static_cast<unsigned char>(pattern_[offset]);
  if (!keys_) {
    c.a = c.b = byte;
    c.count = 1;
    return c;
  }
  const unsigned char key = (*keys_)[byte];
  for (int v = 0; v < 256; ++v) {
    if ((*keys_)[v] != key) continue;
    if (c.count == 0)
      c.a = c.b = static_cast<unsigned char>(v);
    else
      c.b = static_cast<unsigned char>(v);
    ++c.count;
  }
  return c;
}

bool PatternScanner::Matches(const char* at) const {
  if (!keys_) {
    // Short patterns: a plain loop beats a call.
    if (pattern_.size() <= 8) {
      for (size_t i = 0; i < pattern_.size(); ++i)
        if (at[i] != pattern_[i]) return false;
      return true;
    }
    return std::memcmp(at, pattern_.data(), pattern_.size()) == 0;
  }
  const auto* t = reinterpret_cast<const unsigned char*>(at);
  for (size_t i = 0; i < keyed_.size(); ++i)
    if ((*keys_)[t[i]] != static_cast<unsigned char>(keyed_[i])) return false;
  return true;
}

std::array<char, 6> PatternScanner::FilterBytes() const {
  const auto c = [](unsigned char b) { return static_cast<char>(b); };
  return {c(first_.a), c(first_.b), c(second_.a), c(second_.b), c(third_.a), c(third_.b)};
}

size_t PatternScanner::FindScalar(std::string_view text, size_t from) const {
  const size_t m = pattern_.size();
  for (size_t p = from; p + m <= text.size(); ++p)
    if (Matches(text.data() + p)) return p;
  return npos;
}

#ifdef __SSE2__
// The same filter 32 candidates at a time, where the processor has AVX2.
__attribute__((target("avx2"))) size_t PatternScanner::FindWide(std::string_view text,
                                                                size_t& from) const {
  const size_t m = pattern_.size();
  const char* base = text.data();
  const size_t n = text.size();
  const std::array<char, 6> bytes = FilterBytes();
  __m256i want[6];
  for (size_t i = 0; i < bytes.size(); ++i) want[i] = _mm256_set1_epi8(bytes[i]);
  size_t p = from;
  while (p + 31 + m <= n) {
    const __m256i v1 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + first_.offset));
    const __m256i v2 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + second_.offset));
    const __m256i eq1 =
        _mm256_or_si256(_mm256_cmpeq_epi8(v1, want[0]), _mm256_cmpeq_epi8(v1, want[1]));
    const __m256i v3 =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + third_.offset));
    const __m256i eq2 =
        _mm256_or_si256(_mm256_cmpeq_epi8(v2, want[2]), _mm256_cmpeq_epi8(v2, want[3]));
    const __m256i eq3 =
        _mm256_or_si256(_mm256_cmpeq_epi8(v3, want[4]), _mm256_cmpeq_epi8(v3, want[5]));
    auto mask = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_and_si256(eq1, eq2), eq3)));
    while (mask) {
      const size_t candidate = p + static_cast<size_t>(__builtin_ctz(mask));
      if (Matches(base + candidate)) return candidate;
      mask &= mask - 1;
    }
    p += 32;
  }
  from = p;
  return npos;
}
#endif

size_t PatternScanner::Find(std::string_view text, size_t from) const {
  const size_t m = pattern_.size();
  if (m == 0 || from > text.size() || text.size() - from < m) return npos;
  if (!vectorFilter_) return FindScalar(text, from);
  const char* base = text.data();
  const size_t n = text.size();
  if (m == 1 && first_.count == 1) {
    const void* hit = std::memchr(base + from, first_.a, n - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - base) : npos;
  }
  size_t p = from;
#ifdef __SSE2__
  if (HasAvx2()) {
    const size_t found = FindWide(text, p);
    if (found != npos) return found;
  }
  const std::array<char, 6> bytes = FilterBytes();
  __m128i want[6];
  for (size_t i = 0; i < bytes.size(); ++i) want[i] = _mm_set1_epi8(bytes[i]);
  // Candidates p..p+15 need bytes up to p + 15 + m - 1 < n.
  while (p + 15 + m <= n) {
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + first_.offset));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + second_.offset));
    const __m128i eq1 = _mm_or_si128(_mm_cmpeq_epi8(v1, want[0]), _mm_cmpeq_epi8(v1, want[1]));
    const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + third_.offset));
    const __m128i eq2 = _mm_or_si128(_mm_cmpeq_epi8(v2, want[2]), _mm_cmpeq_epi8(v2, want[3]));
    const __m128i eq3 = _mm_or_si128(_mm_cmpeq_epi8(v3, want[4]), _mm_cmpeq_epi8(v3, want[5]));
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(eq1, eq2), eq3)));
    while (mask) {
      const size_t candidate = p + static_cast<size_t>(__builtin_ctz(mask));
      if (Matches(base + candidate)) return candidate;
      mask &= mask - 1;
    }
    p += 16;
  }
#endif
  return FindScalar(text, p);
}

}  // namespace vorn
