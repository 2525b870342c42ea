#include "PatternScanner.h"

#include <algorithm>
#include <cstdint>
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

namespace {

// The filter's choice among byte classes: the three rarest that take the vector filter (at most
// two members), and their summed rank (lower is better; a missing one counts as common).
struct FilterChoice {
  int score = 0;
  std::vector<std::pair<int, size_t>> ranked;  // rank, index into the classes
};

template <typename Class>
FilterChoice ChooseAmong(const std::vector<Class>& classes) {
  FilterChoice choice;
  for (size_t i = 0; i < classes.size(); ++i) {
    const Class& c = classes[i];
    if (c.count > 2 || c.count == 0) continue;
    choice.ranked.emplace_back(Commonness(c.a) + (c.count == 2 ? Commonness(c.b) / 4 : 0), i);
  }
  std::stable_sort(choice.ranked.begin(), choice.ranked.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  for (size_t i = 0; i < 3; ++i)
    choice.score += i < choice.ranked.size() ? choice.ranked[i].first : 300;
  return choice;
}

}  // namespace

PatternScanner::PatternScanner(std::string_view pattern, const KeyTable* keys)
    : pattern_(pattern), keys_(keys), maxLength_(pattern.size()) {
  if (keys_) {
    keyed_.resize(pattern_.size());
    for (size_t i = 0; i < pattern_.size(); ++i)
      keyed_[i] = static_cast<char>((*keys_)[static_cast<unsigned char>(pattern_[i])]);
  }
  if (pattern_.empty()) return;
  // Pick the three rarest positions whose byte classes have at most two members: three
  // compares cost little more than two and leave far fewer false candidates.
  std::vector<ByteClass> classes;
  for (size_t i = 0; i < pattern_.size(); ++i) classes.push_back(ClassAt(i));
  ChooseFilter(std::move(classes));  // no usable position: the scalar scan serves
}

PatternScanner::PatternScanner(const std::vector<std::vector<std::string>>& units) {
  std::vector<size_t> minLength, maxLength;
  for (const auto& forms : units) {
    Unit& unit = units_.emplace_back();
    unit.first = forms_.size();
    unit.count = forms.size();
    size_t lo = 4, hi = 0;
    for (const std::string& text : forms) {
      Form& form = forms_.emplace_back();
      form.length = static_cast<unsigned char>(std::min<size_t>(text.size(), 4));
      std::memcpy(form.bytes.data(), text.data(), form.length);
      lo = std::min<size_t>(lo, form.length);
      hi = std::max<size_t>(hi, form.length);
    }
    if (forms.empty()) lo = 0;
    minLength.push_back(lo);
    maxLength.push_back(hi);
    maxLength_ += hi;
  }
  if (units_.empty()) return;
  // The byte classes of a stretch of units whose forms are all of one length, from a unit on,
  // and of the first byte of the unit after it: their offsets from the stretch's start are
  // fixed, so the filter can look at them.
  const auto classesFrom = [&](size_t r, size_t& room) {
    std::vector<ByteClass> classes;
    size_t offset = 0;
    size_t u = r;
    for (; u < units_.size() && minLength[u] == maxLength[u]; offset += maxLength[u], ++u)
      for (size_t k = 0; k < maxLength[u]; ++k) classes.push_back(UnitClass(u, k, offset + k));
    if (u < units_.size()) classes.push_back(UnitClass(u, 0, offset++));
    room = offset;
    return classes;
  };
  int best = -1;
  for (size_t r = 0; r < units_.size(); ++r) {
    if (r > 0 && minLength[r - 1] == maxLength[r - 1]) continue;  // inside a stretch
    size_t room = 0;
    const std::vector<ByteClass> classes = classesFrom(r, room);
    const FilterChoice choice = ChooseAmong(classes);
    if (choice.ranked.empty() || (best >= 0 && choice.score >= best)) continue;
    best = choice.score;
    anchorUnit_ = r;
    anchorRoom_ = room;
  }
  if (best < 0) {
    // No byte anywhere has two values or fewer: candidates are the places the first unit
    // may begin.
    anchorUnit_ = 0;
    anchorRoom_ = 1;
    for (size_t f = units_[0].first; f < units_[0].first + units_[0].count; ++f)
      anchorLead_[forms_[f].bytes[0]] = true;
    return;
  }
  for (size_t u = 0; u < anchorUnit_; ++u) minPrefix_ += minLength[u], maxPrefix_ += maxLength[u];
  size_t room = 0;
  ChooseFilter(classesFrom(anchorUnit_, room));
}

PatternScanner::PatternScanner(std::string_view pattern, const KeyTable* keys,
                               const std::vector<std::vector<std::string>>& units)
    : PatternScanner(units) {
  std::vector<std::pair<unsigned char, unsigned char>> leads;
  for (const Form& form : forms_) {
    if (form.length < 2) continue;
    const std::pair<unsigned char, unsigned char> lead(form.bytes[0], form.bytes[1]);
    if (std::find(leads.begin(), leads.end(), lead) == leads.end()) leads.push_back(lead);
  }
  if (leads.empty() || leads.size() > 2) return;
  // Where the units' filter looks at bytes as rare as the key table's would, it serves alone.
  auto keyed = std::make_shared<const PatternScanner>(pattern, keys);
  if (keyed->filterScore_ >= filterScore_) return;
  if (leads.size() == 1) leads.push_back(leads[0]);
  longerLeads_ = {leads[0].first, leads[0].second, leads[1].first, leads[1].second};
  keyedScanner_ = std::move(keyed);
}

void PatternScanner::ChooseFilter(std::vector<ByteClass> classes) {
  const FilterChoice choice = ChooseAmong(classes);
  if (choice.ranked.empty()) return;
  const auto& ranked = choice.ranked;
  first_ = classes[ranked[0].second];
  second_ = ranked.size() > 1 ? classes[ranked[1].second] : first_;
  third_ = ranked.size() > 2 ? classes[ranked[2].second] : second_;
  vectorFilter_ = true;
  filterScore_ = choice.score;
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

PatternScanner::ByteClass PatternScanner::UnitClass(size_t unit, size_t k, size_t offset) const {
  ByteClass c;
  c.offset = offset;
  const Unit& u = units_[unit];
  for (size_t f = u.first; f < u.first + u.count; ++f) {
    const unsigned char byte = forms_[f].bytes[k];
    if (c.count > 0 && (byte == c.a || byte == c.b)) continue;
    if (c.count == 0)
      c.a = c.b = byte;
    else
      c.b = byte;
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
  // An exact pattern whose filter byte is known: the system's byte search finds each place
  // that byte stands, much faster than a step a byte on the short rests of hit lines that
  // the further matches are looked for in.
  if (!keys_ && first_.count == 1 && first_.offset < m) {
    const size_t k = first_.offset;
    const char* const base = text.data();
    for (size_t p = from; p + m <= text.size(); ++p) {
      const void* at = std::memchr(base + p + k, first_.a, text.size() - m + 1 - p);
      if (!at) return npos;
      p = static_cast<size_t>(static_cast<const char*>(at) - base) - k;
      if (Matches(base + p)) return p;
    }
    return npos;
  }
  for (size_t p = from; p + m <= text.size(); ++p)
    if (Matches(text.data() + p)) return p;
  return npos;
}

#ifdef __SSE2__
namespace {

// The filter's verdict on the 32 candidates at p: a set byte where all three bytes fit.
// Single: each class is one byte, so one comparison serves it.
template <bool Single>
__attribute__((target("avx2"), always_inline)) inline __m256i FilterAt(const char* p,
                                                                       const size_t (&at)[3],
                                                                       const __m256i (&want)[6],
                                                                       __m256i& first) {
  first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at[0]));
  const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at[1]));
  const __m256i v3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at[2]));
  if constexpr (Single)
    return _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(first, want[0]), _mm256_cmpeq_epi8(v2, want[2])),
        _mm256_cmpeq_epi8(v3, want[4]));
  const __m256i eq1 =
      _mm256_or_si256(_mm256_cmpeq_epi8(first, want[0]), _mm256_cmpeq_epi8(first, want[1]));
  const __m256i eq2 =
      _mm256_or_si256(_mm256_cmpeq_epi8(v2, want[2]), _mm256_cmpeq_epi8(v2, want[3]));
  const __m256i eq3 =
      _mm256_or_si256(_mm256_cmpeq_epi8(v3, want[4]), _mm256_cmpeq_epi8(v3, want[5]));
  return _mm256_and_si256(_mm256_and_si256(eq1, eq2), eq3);
}

}  // namespace

// The filter 64 candidates at a time, where the processor has AVX2: candidates are rare, so
// one test serves two vectors. Tracked, it also tells whether the bytes it read at the first
// filter position were all ASCII, in ascii.
template <bool Track, bool Single, typename Take>
__attribute__((target("avx2"))) size_t PatternScanner::FindWide(std::string_view text, size_t& from,
                                                                size_t room, const Take& take,
                                                                AsciiSpan* ascii) const {
  const char* base = text.data();
  const size_t n = text.size();
  const std::array<char, 6> bytes = FilterBytes();
  __m256i want[6];
  for (size_t i = 0; i < bytes.size(); ++i) want[i] = _mm256_set1_epi8(bytes[i]);
  // The offsets in registers and the rare candidates out of the loop's way: the loop runs about
  // a third faster than reading them through this each time.
  const size_t at[3] = {first_.offset, second_.offset, third_.offset};
  size_t p = from;
  __m256i seen = _mm256_setzero_si256();
  const auto tell = [&](size_t end, int high) {
    if (high == 0) *ascii = {from + first_.offset, end + first_.offset};
  };
  // The candidates of a mask, in order; npos when take turned them all down.
  const auto takeAll = [&](uint64_t mask, size_t origin) {
    while (mask) {
      const size_t found = take(origin + static_cast<size_t>(__builtin_ctzll(mask)));
      if (found != npos) return found;
      mask &= mask - 1;
    }
    return npos;
  };
  while (p + 63 + room <= n) {
    __m256i v1, v2;
    const __m256i lo = FilterAt<Single>(base + p, at, want, v1);
    const __m256i hi = FilterAt<Single>(base + p + 32, at, want, v2);
    if constexpr (Track) seen = _mm256_or_si256(seen, _mm256_or_si256(v1, v2));
    if (_mm256_testz_si256(_mm256_or_si256(lo, hi), _mm256_set1_epi8(-1))) [[likely]] {
      p += 64;
      continue;
    }
    const uint64_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(lo)) |
                          uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(hi))} << 32;
    const size_t found = takeAll(mask, p);
    if (found != npos) {
      if constexpr (Track) tell(p + 64, _mm256_movemask_epi8(seen));
      return found;
    }
    p += 64;
  }
  while (p + 31 + room <= n) {
    __m256i v1;
    const __m256i eq = FilterAt<Single>(base + p, at, want, v1);
    if constexpr (Track) seen = _mm256_or_si256(seen, v1);
    const size_t found = takeAll(static_cast<uint32_t>(_mm256_movemask_epi8(eq)), p);
    if (found != npos) {
      if constexpr (Track) tell(p + 32, _mm256_movemask_epi8(seen));
      return found;
    }
    p += 32;
  }
  if constexpr (Track) tell(p, _mm256_movemask_epi8(seen));
  from = p;
  return npos;
}
#endif

// The vector filter over the candidates from `from` on whose room bytes lie in the text; each
// candidate goes to take, whose answer other than npos ends the search. from is left where the
// filter stopped, for a scalar scan of the rest. Given ascii, it may name a span of the text
// the filter found all ASCII.
template <typename Take>
size_t PatternScanner::Filter(std::string_view text, size_t& from, size_t room, const Take& take,
                              AsciiSpan* ascii) const {
#ifdef __SSE2__
  const char* base = text.data();
  const size_t n = text.size();
  size_t p = from;
  if (HasAvx2()) {
    // Exact classes, the common case, need one comparison a byte.
    const bool single = first_.count == 1 && second_.count == 1 && third_.count == 1;
    const size_t found = ascii ? (single ? FindWide<true, true>(text, p, room, take, ascii)
                                         : FindWide<true, false>(text, p, room, take, ascii))
                               : (single ? FindWide<false, true>(text, p, room, take, ascii)
                                         : FindWide<false, false>(text, p, room, take, ascii));
    if (found != npos) return found;
  }
  const std::array<char, 6> bytes = FilterBytes();
  __m128i want[6];
  for (size_t i = 0; i < bytes.size(); ++i) want[i] = _mm_set1_epi8(bytes[i]);
  // Candidates p..p+15 need bytes up to p + 15 + room - 1 < n.
  while (p + 15 + room <= n) {
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + first_.offset));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + second_.offset));
    const __m128i eq1 = _mm_or_si128(_mm_cmpeq_epi8(v1, want[0]), _mm_cmpeq_epi8(v1, want[1]));
    const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + third_.offset));
    const __m128i eq2 = _mm_or_si128(_mm_cmpeq_epi8(v2, want[2]), _mm_cmpeq_epi8(v2, want[3]));
    const __m128i eq3 = _mm_or_si128(_mm_cmpeq_epi8(v3, want[4]), _mm_cmpeq_epi8(v3, want[5]));
    unsigned mask =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(eq1, eq2), eq3)));
    while (mask) {
      const size_t found = take(p + static_cast<size_t>(__builtin_ctz(mask)));
      if (found != npos) return found;
      mask &= mask - 1;
    }
    p += 16;
  }
  from = p;
#else
  (void)text, (void)room, (void)take, (void)ascii;
#endif
  return npos;
}

size_t PatternScanner::Find(std::string_view text, size_t from, size_t& length,
                            AsciiSpan* ascii) const {
  if (ascii) *ascii = {};
  if (keyedScanner_) return FindKeyedFirst(text, from, length, ascii);
  if (!units_.empty()) return FindUnits(text, from, length, ascii);
  return FindPattern(text, from, length, ascii);
}

size_t PatternScanner::FindPattern(std::string_view text, size_t from, size_t& length,
                                   AsciiSpan* ascii) const {
  const size_t m = pattern_.size();
  length = m;
  if (m == 0 || from > text.size() || text.size() - from < m) return npos;
  if (!vectorFilter_) return FindScalar(text, from);
  const char* base = text.data();
  const size_t n = text.size();
  if (m == 1 && first_.count == 1) {
    const void* hit = std::memchr(base + from, first_.a, n - from);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - base) : npos;
  }
  size_t p = from;
  const size_t found = Filter(
      text, p, m, [&](size_t candidate) { return Matches(base + candidate) ? candidate : npos; },
      ascii);
  if (found != npos) return found;
  return FindScalar(text, p);
}

// Whether the units from the anchor unit on match at anchor, and those before it end there
// without reaching below from: the match is [start, end).
bool PatternScanner::UnitsAround(std::string_view text, size_t anchor, size_t from, size_t& start,
                                 size_t& end) const {
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  size_t pos = anchor;
  for (size_t u = anchorUnit_; u < units_.size(); ++u) {
    const Unit& unit = units_[u];
    size_t f = unit.first;
    for (; f < unit.first + unit.count; ++f) {
      const Form& form = forms_[f];
      if (form.length <= text.size() - pos &&
          std::memcmp(t + pos, form.bytes.data(), form.length) == 0)
        break;
    }
    if (f == unit.first + unit.count) return false;
    pos += forms_[f].length;
  }
  end = pos;
  pos = anchor;
  for (size_t u = anchorUnit_; u-- > 0;) {
    const Unit& unit = units_[u];
    size_t f = unit.first;
    for (; f < unit.first + unit.count; ++f) {
      const Form& form = forms_[f];
      if (form.length <= pos - from &&
          std::memcmp(t + pos - form.length, form.bytes.data(), form.length) == 0)
        break;
    }
    if (f == unit.first + unit.count) return false;
    pos -= forms_[f].length;
  }
  start = pos;
  return true;
}

// Candidates are places of the anchor; a match found from one may be passed by a later one
// that begins earlier (the units before the anchor vary in length), so the search goes on
// until no later candidate can begin before the best found.
size_t PatternScanner::FindUnits(std::string_view text, size_t from, size_t& length,
                                 AsciiSpan* ascii) const {
  const size_t n = text.size();
  if (from > n || n - from < minPrefix_) return npos;
  size_t best = npos, bestEnd = 0;
  const auto take = [&](size_t anchor) {
    if (best != npos && anchor > best + maxPrefix_) return best;
    size_t start = 0, end = 0;
    if (UnitsAround(text, anchor, from, start, end) && start < best) best = start, bestEnd = end;
    return npos;
  };
  size_t p = from + minPrefix_;
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const auto fits = [&](const ByteClass& c, size_t at) {
    return t[at + c.offset] == c.a || t[at + c.offset] == c.b;
  };
  if (vectorFilter_ && Filter(text, p, anchorRoom_, take, ascii) != npos) {
    length = bestEnd - best;
    return best;
  }
  for (; p + anchorRoom_ <= n; ++p) {
    const bool candidate =
        vectorFilter_ ? fits(first_, p) && fits(second_, p) && fits(third_, p) : anchorLead_[t[p]];
    if (candidate && take(p) != npos) break;
  }
  if (best != npos) length = bestEnd - best;
  return best;
}

#ifdef __SSE2__
namespace {

// Where in [p, end) one of two byte pairs may begin, 32 places at a time; p is left where the
// vector scan stopped. Reads below limit only. Both pairs begin with a byte of 0x80 or more
// (the lead of a longer UTF-8 sequence), so 128 bytes without one are passed at once: ASCII
// text costs little more than reading it.
__attribute__((target("avx2"))) size_t FindPairsWide(const char* base, size_t& p, size_t end,
                                                     size_t limit,
                                                     const std::array<unsigned char, 4>& pairs) {
  __m256i want[4];
  for (size_t i = 0; i < pairs.size(); ++i) want[i] = _mm256_set1_epi8(static_cast<char>(pairs[i]));
  while (p + 32 <= end && p + 33 <= limit) {
    if (p + 128 <= end) {
      const __m256i any = _mm256_or_si256(
          _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p)),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + 32))),
          _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + 64)),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + 96))));
      if (_mm256_movemask_epi8(any) == 0) {
        p += 128;
        continue;
      }
    }
    for (int k = 0; k < 4 && p + 32 <= end && p + 33 <= limit; ++k, p += 32) {
      const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p)),
                    v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + p + 1));
      const __m256i a =
          _mm256_and_si256(_mm256_cmpeq_epi8(v0, want[0]), _mm256_cmpeq_epi8(v1, want[1]));
      const __m256i b =
          _mm256_and_si256(_mm256_cmpeq_epi8(v0, want[2]), _mm256_cmpeq_epi8(v1, want[3]));
      const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_or_si256(a, b)));
      if (mask) return p + static_cast<size_t>(__builtin_ctz(mask));
    }
  }
  return std::string_view::npos;
}

}  // namespace
#endif

size_t PatternScanner::FindLongerForm(std::string_view text, size_t from, size_t end) const {
  const char* base = text.data();
  const size_t n = text.size();
  end = std::min(end, n);
  size_t p = from;
#ifdef __SSE2__
  // The few bytes between close hits are looked at one by one.
  if (p < end && end - p >= 64) {
    if (HasAvx2()) {
      const size_t found = FindPairsWide(base, p, end, n, longerLeads_);
      if (found != npos) return found;
    }
    __m128i want[4];
    for (size_t i = 0; i < longerLeads_.size(); ++i)
      want[i] = _mm_set1_epi8(static_cast<char>(longerLeads_[i]));
    for (; p + 16 <= end && p + 17 <= n; p += 16) {
      const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p));
      const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + 1));
      const __m128i a = _mm_and_si128(_mm_cmpeq_epi8(v0, want[0]), _mm_cmpeq_epi8(v1, want[1]));
      const __m128i b = _mm_and_si128(_mm_cmpeq_epi8(v0, want[2]), _mm_cmpeq_epi8(v1, want[3]));
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(a, b)));
      if (mask) return p + static_cast<size_t>(__builtin_ctz(mask));
    }
  }
#endif
  const auto* t = reinterpret_cast<const unsigned char*>(base);
  for (; p < end && p + 1 < n; ++p) {
    // Eight ASCII bytes at a time.
    for (uint64_t word = 0; p + 8 <= end; p += 8) {
      std::memcpy(&word, t + p, 8);
      if (word & 0x8080808080808080u) break;
    }
    if (p >= end || p + 1 >= n) break;
    if ((t[p] == longerLeads_[0] && t[p + 1] == longerLeads_[1]) ||
        (t[p] == longerLeads_[2] && t[p + 1] == longerLeads_[3]))
      return p;
  }
  return npos;
}

// The first match through the key table is the first of all unless a longer form begins
// before it ends (a match holding one may begin before it). Around each such place the units
// are compared over the few bytes a match holding it can take; a match found there that
// begins at or before the place is the first, else the search goes on past it.
size_t PatternScanner::FindKeyedFirst(std::string_view text, size_t from, size_t& length,
                                      AsciiSpan* asciiOut) const {
  const size_t n = text.size();
  size_t keyedLength = 0;
  AsciiSpan ascii;
  const size_t keyed = keyedScanner_->FindPattern(text, from, keyedLength, &ascii);
  if (asciiOut) *asciiOut = ascii;
  const size_t limit = keyed == npos ? n : std::min(n, keyed + maxLength_);
  // A longer form begins with a byte of 0x80 or more: none begins in the span the key table's
  // filter found all ASCII, so only the bytes around it are looked at.
  const auto nextPlace = [&](size_t at) {
    if (at < ascii.begin) {
      const size_t place = FindLongerForm(text, at, std::min(limit, ascii.begin));
      if (place != npos) return place;
      at = ascii.begin;
    }
    return FindLongerForm(text, std::max(at, ascii.end), limit);
  };
  for (size_t at = from; at < limit;) {
    const size_t place = nextPlace(at);
    if (place == npos) break;
    const size_t start = std::max(at, place + 1 >= maxLength_ ? place + 1 - maxLength_ : 0);
    size_t found = 0;
    const size_t match = FindUnits(text.substr(0, std::min(n, place + maxLength_)), start, found);
    if (match != npos && match <= place) {
      length = found;
      return match;
    }
    at = place + 1;
  }
  length = keyedLength;
  return keyed;
}

}  // namespace vorn
