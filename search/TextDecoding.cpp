#include "TextDecoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

#ifdef __SSE2__
#include <immintrin.h>
#endif

#include "Utf8.h"

namespace vorn {

namespace {

// Bytes that begin a sequence the end of the bytes cut short.
bool CutSequence(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  if (lead < 0xC2 || lead > 0xF4) return false;
  const ptrdiff_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (end - p >= needed) return false;
  for (const unsigned char* q = p + 1; q < end; ++q)
    if ((*q & 0xC0) != 0x80) return false;
  return true;
}

// How sure the detector must be, and of how much text, before its answer is taken over
// Windows-1252. Double-byte encodings are told by their valid pairs; single-byte encodings
// of other scripts by text that is mostly letters beyond ASCII; other Latin pages than the
// Western one only where the detector is quite sure.
constexpr int kDoubleByteConfidence = 50;
constexpr size_t kDoubleByteHighBytes = 4;
constexpr int kScriptConfidence = 20;
constexpr size_t kScriptHighBytes = 8;
constexpr int kLatinConfidence = 70;
constexpr size_t kLatinHighBytes = 8;
// The detector gives a double-byte encoding a confidence of 50 or more only for text with
// more than ten characters of two bytes, each led by a byte beyond ASCII. Text with fewer
// bytes beyond ASCII than any rule above asks for is Windows-1252 without asking it.
constexpr size_t kDoubleByteDetectable = 11;
constexpr size_t kDetectorNeeded = std::min(
    {std::max(kDoubleByteHighBytes, kDoubleByteDetectable), kScriptHighBytes, kLatinHighBytes});
// The detector reads the lines around the first bytes beyond ASCII, up to this much.
constexpr size_t kSampleBytes = 512;
constexpr size_t kSampleSide = 96;

enum class Kind { DoubleByte, Script, Latin, Western, Other };

Kind KindOf(std::string_view name) {
  for (const char* n : {"Shift_JIS", "EUC-JP", "EUC-KR", "GB18030", "Big5"})
    if (name == n) return Kind::DoubleByte;
  for (const char* n : {"windows-1251", "KOI8-R", "ISO-8859-5", "ISO-8859-6", "windows-1256",
                        "ISO-8859-7", "windows-1253", "ISO-8859-8", "ISO-8859-8-I", "windows-1255"})
    if (name == n) return Kind::Script;
  for (const char* n : {"ISO-8859-2", "windows-1250", "ISO-8859-9", "windows-1254"})
    if (name == n) return Kind::Latin;
  if (name == "ISO-8859-1" || name == "windows-1252") return Kind::Western;
  return Kind::Other;
}

struct Detector {
  UCharsetDetector* d = nullptr;
  Detector() {
    UErrorCode e = U_ZERO_ERROR;
    d = ucsdet_open(&e);
    if (U_FAILURE(e)) d = nullptr;
  }
  ~Detector() {
    if (d) ucsdet_close(d);
  }
  Detector(const Detector&) = delete;
  Detector& operator=(const Detector&) = delete;
};

bool IsAsciiLetter(unsigned char b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; }

// Russian in the two pages it is mostly written in, told apart by its seven commonest
// letters (о е а и н т с: half of all letters), which are lower case and sit in different
// halves of the two pages. The detector's own models are too weak for a line or two.
constexpr double kCyrillicCover = 0.4;

const char* CyrillicPage(std::string_view sample, size_t high) {
  static constexpr unsigned char k1251[] = {0xEE, 0xE5, 0xE0, 0xE8, 0xED, 0xF2, 0xF1};
  static constexpr unsigned char kKoi8[] = {0xCF, 0xC5, 0xC1, 0xC9, 0xCE, 0xD4, 0xD3};
  size_t in1251 = 0, inKoi8 = 0;
  for (const char ch : sample) {
    const auto b = static_cast<unsigned char>(ch);
    for (const unsigned char c : k1251) in1251 += b == c;
    for (const unsigned char c : kKoi8) inKoi8 += b == c;
  }
  const size_t best = std::max(in1251, inKoi8);
  if (static_cast<double>(best) < kCyrillicCover * static_cast<double>(high)) return nullptr;
  return in1251 >= inKoi8 ? "windows-1251" : "KOI8-R";
}

bool IsGreek(std::string_view name) { return name == "ISO-8859-7" || name == "windows-1253"; }

}  // namespace

// 64 bytes at a time, then 8.
size_t NextHighByte(std::string_view bytes, size_t from) {
  const size_t n = bytes.size();
#ifdef __SSE2__
  for (; from + 64 <= n; from += 64) {
    const auto* v = reinterpret_cast<const __m128i*>(bytes.data() + from);
    const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                                     _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3)));
    if (_mm_movemask_epi8(any) != 0) break;
  }
#endif
  for (std::uint64_t w; from + 8 <= n; from += 8) {
    std::memcpy(&w, bytes.data() + from, 8);
    if ((w & 0x8080808080808080ull) != 0) break;
  }
  while (from < n && static_cast<unsigned char>(bytes[from]) < 0x80) ++from;
  return from;
}

namespace {

// Where bytes stop being valid UTF-8: the offset of the first bad sequence, or npos.
size_t FirstBadUtf8(std::string_view bytes, bool complete) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = begin + bytes.size();
  for (size_t at = NextHighByte(bytes, 0); at < bytes.size(); at = NextHighByte(bytes, at)) {
    char32_t c;
    const size_t n = DecodeUtf8At(bytes.substr(at), c);
    if (n == 0) {
      if (!complete && CutSequence(begin + at, end)) return std::string_view::npos;
      return at;
    }
    at += n;
  }
  return std::string_view::npos;
}

// UTF-8 with a few stray bytes is still UTF-8 (its bytes are kept as they are). Single-byte
// legacy text holds next to no valid sequence beyond ASCII by chance, and double-byte text
// (Shift_JIS, EUC, GB18030) one valid for three or more bad ones; so legacy text is taken
// where the bad sequences outnumber the valid ones two to one.
bool MostlyUtf8(std::string_view bytes, bool complete) {
  size_t valid = 0, invalid = 0;
  for (size_t at = 0; at < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[at]);
    if (b < 0x80) {
      at = NextHighByte(bytes, at);
      continue;
    }
    char32_t c;
    const size_t n = DecodeUtf8At(bytes.substr(at), c);
    if (n > 0) {
      ++valid;
      at += n;
    } else {
      invalid += complete || bytes.size() - at >= 4;
      ++at;
    }
  }
  return 2 * valid >= invalid;
}

}  // namespace

bool IsUtf8(std::string_view bytes, bool complete) {
  return FirstBadUtf8(bytes, complete) == std::string_view::npos;
}

std::string DetectLegacyEncoding(std::string_view head) {
  static constexpr const char* kFallback = "windows-1252";
  // The lines that hold bytes beyond ASCII carry the evidence; the rest would only cost time.
  std::string sample;
  size_t high = 0, letters = 0;
  size_t from = 0;
  while (from < head.size() && sample.size() < kSampleBytes) {
    const size_t at = NextHighByte(head, from);
    if (at == head.size()) break;
    size_t begin = at, end = at;
    while (begin > from && at - begin < kSampleSide && head[begin - 1] != '\n') --begin;
    while (end < head.size() && end - at < kSampleSide && head[end] != '\n') ++end;
    const std::string_view piece = head.substr(begin, end - begin);
    for (const char ch : piece) {
      const auto b = static_cast<unsigned char>(ch);
      high += b >= 0x80;
      letters += b >= 0x80 || IsAsciiLetter(b);
    }
    sample.append(piece).push_back('\n');
    from = end;
  }
  if (high < kDetectorNeeded) return kFallback;
  thread_local Detector detector;
  if (!detector.d) return kFallback;
  UErrorCode e = U_ZERO_ERROR;
  ucsdet_setText(detector.d, sample.data(), static_cast<int32_t>(sample.size()), &e);
  int32_t count = 0;
  const UCharsetMatch** matches = ucsdet_detectAll(detector.d, &count, &e);
  if (U_FAILURE(e)) return kFallback;
  // Text of another script is mostly letters beyond ASCII.
  const bool script = high >= kScriptHighBytes && 3 * high >= letters;
  for (int32_t i = 0; i < count; ++i) {
    UErrorCode me = U_ZERO_ERROR;
    const char* name = ucsdet_getName(matches[i], &me);
    const int confidence = ucsdet_getConfidence(matches[i], &me);
    if (U_FAILURE(me) || name == nullptr) continue;
    if (KindOf(name) == Kind::DoubleByte && confidence >= kDoubleByteConfidence &&
        high >= kDoubleByteHighBytes)
      return name;
    if (script && IsGreek(name) && confidence >= kScriptConfidence) return name;
  }
  if (script) {
    if (const char* page = CyrillicPage(sample, high)) return page;
  }
  for (int32_t i = 0; i < count; ++i) {
    UErrorCode me = U_ZERO_ERROR;
    const char* name = ucsdet_getName(matches[i], &me);
    const int confidence = ucsdet_getConfidence(matches[i], &me);
    if (U_FAILURE(me) || name == nullptr) continue;
    switch (KindOf(name)) {
      case Kind::Western:
        return kFallback;
      case Kind::DoubleByte:
        if (confidence >= kDoubleByteConfidence && high >= kDoubleByteHighBytes) return name;
        break;
      case Kind::Script:
        if (confidence >= kScriptConfidence && script) return name;
        break;
      case Kind::Latin:
        if (confidence >= kLatinConfidence && high >= kLatinHighBytes) return name;
        break;
      case Kind::Other:
        break;
    }
  }
  return kFallback;
}

std::string EncodingForHead(std::string_view head, bool complete, std::string_view setting) {
  if (setting == kEncodingUtf8) return {};
  if (!setting.empty()) return std::string(setting);
  // A head cut short of the file may end inside a sequence.
  const bool whole = complete && head.size() <= kEncodingHead;
  head = head.substr(0, kEncodingHead);
  const size_t bad = FirstBadUtf8(head, whole);
  if (bad == std::string_view::npos) return {};
  // A NUL byte makes the file binary: its bytes are searched as they are.
  if (std::memchr(head.data(), 0, head.size()) != nullptr) return {};
  if (MostlyUtf8(head, whole)) return {};
  return DetectLegacyEncoding(head);
}

std::string KnownEncoding(std::string_view name) {
  const std::string n(name);
  UErrorCode e = U_ZERO_ERROR;
  UConverter* c = ucnv_open(n.c_str(), &e);
  if (U_FAILURE(e) || c == nullptr) return {};
  ucnv_close(c);
  e = U_ZERO_ERROR;
  const char* standard = ucnv_getStandardName(n.c_str(), "MIME", &e);
  if (U_FAILURE(e) || standard == nullptr) {
    e = U_ZERO_ERROR;
    standard = ucnv_getStandardName(n.c_str(), "IANA", &e);
  }
  return U_SUCCESS(e) && standard != nullptr ? std::string(standard) : n;
}

namespace {

// A single-byte encoding's 256 bytes as UTF-8, asked of ICU's converter once per encoding: text
// in it is then decoded by looking each byte up, without two conversions through UTF-16.
struct ByteTable {
  std::array<std::array<char, 4>, 256> utf8{};
  std::array<unsigned char, 256> length{};
};

// The table of a stateless encoding of one byte a character in which every byte stands for
// one character, or null.
std::unique_ptr<ByteTable> MakeByteTable(const std::string& name) {
  UErrorCode e = U_ZERO_ERROR;
  UConverter* c = ucnv_open(name.c_str(), &e);
  if (U_FAILURE(e) || c == nullptr) return nullptr;
  const bool single = ucnv_getMaxCharSize(c) == 1 && ucnv_getMinCharSize(c) == 1 &&
                      (ucnv_getType(c) == UCNV_SBCS || ucnv_getType(c) == UCNV_LATIN_1 ||
                       ucnv_getType(c) == UCNV_US_ASCII);
  auto table = std::make_unique<ByteTable>();
  for (int b = 0; single && b < 256; ++b) {
    const char byte = static_cast<char>(b);
    UChar units[4];
    e = U_ZERO_ERROR;
    ucnv_resetToUnicode(c);
    const int32_t count = ucnv_toUChars(c, units, 4, &byte, 1, &e);
    int32_t made = 0;
    if (U_SUCCESS(e) && count > 0)
      u_strToUTF8(table->utf8[static_cast<size_t>(b)].data(), 4, &made, units, count, &e);
    if (U_FAILURE(e) || made <= 0 || made > 4) {
      table.reset();
      break;
    }
    table->length[static_cast<size_t>(b)] = static_cast<unsigned char>(made);
  }
  ucnv_close(c);
  return single ? std::move(table) : nullptr;
}

const ByteTable* ByteTableFor(const std::string& name) {
  static std::mutex lock;
  static std::map<std::string, std::unique_ptr<ByteTable>, std::less<>> tables;
  const std::lock_guard<std::mutex> hold(lock);
  auto it = tables.find(name);
  if (it == tables.end()) it = tables.emplace(name, MakeByteTable(name)).first;
  return it->second.get();
}

// Whether the table keeps every ASCII byte as it is, so runs of them are copied whole.
bool KeepsAscii(const ByteTable& t) {
  for (size_t b = 0; b < 0x80; ++b)
    if (t.length[b] != 1 || static_cast<unsigned char>(t.utf8[b][0]) != b) return false;
  return true;
}

}  // namespace

struct CharsetDecoder::Converters {
  UConverter* from = nullptr;
  UConverter* to = nullptr;
  const ByteTable* table = nullptr;
  bool asciiKept = false;
  UChar pivot[1024];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  bool reset = true;
  bool flushed = false;
};

CharsetDecoder::CharsetDecoder(const std::string& name) : c_(new Converters), name_(name) {
  c_->table = ByteTableFor(name);
  if (c_->table) {
    c_->asciiKept = KeepsAscii(*c_->table);
    return;
  }
  UErrorCode e = U_ZERO_ERROR;
  c_->from = ucnv_open(name.c_str(), &e);
  if (U_SUCCESS(e)) c_->to = ucnv_open("UTF-8", &e);
  if (U_FAILURE(e)) {
    if (c_->from) ucnv_close(c_->from);
    throw std::invalid_argument("unknown encoding: " + name);
  }
}

CharsetDecoder::~CharsetDecoder() {
  if (c_->from) ucnv_close(c_->from);
  if (c_->to) ucnv_close(c_->to);
}

size_t CharsetDecoder::Decode(std::string_view in, char* out, size_t room, size_t& used,
                              bool last) {
  Converters& c = *c_;
  if (c.table) {
    const ByteTable& t = *c.table;
    size_t i = 0, made = 0;
    while (i < in.size()) {
      if (c.asciiKept) {
        // ASCII runs, eight bytes at a time, as they are.
        while (i + 8 <= in.size() && made + 8 <= room) {
          std::uint64_t w;
          std::memcpy(&w, in.data() + i, 8);
          if ((w & 0x8080808080808080ull) != 0) break;
          std::memcpy(out + made, &w, 8);
          i += 8;
          made += 8;
        }
        if (i == in.size()) break;
      }
      const auto b = static_cast<unsigned char>(in[i]);
      const size_t length = t.length[b];
      if (made + length > room) break;
      std::memcpy(out + made, t.utf8[b].data(), length);
      made += length;
      ++i;
    }
    used = i;
    c.flushed = last && i == in.size();
    return made;
  }
  char* target = out;
  const char* source = in.data();
  UErrorCode e = U_ZERO_ERROR;
  ucnv_convertEx(c.to, c.from, &target, out + room, &source, in.data() + in.size(), c.pivot,
                 &c.pivotSource, &c.pivotTarget, c.pivot + 1024, c.reset ? 1 : 0, last ? 1 : 0, &e);
  c.reset = false;
  used = static_cast<size_t>(source - in.data());
  // A full output keeps the rest in the pivot for the next call; anything else is an
  // error the substitution callbacks left, which cannot happen for a known converter.
  c.flushed = last && e != U_BUFFER_OVERFLOW_ERROR && used == in.size();
  return static_cast<size_t>(target - out);
}

bool CharsetDecoder::Idle() const {
  if (c_->table) return true;
  if (c_->pivotSource != c_->pivotTarget) return false;
  UErrorCode e = U_ZERO_ERROR;
  const int32_t pending = ucnv_toUCountPending(c_->from, &e);
  return c_->flushed || (U_SUCCESS(e) && pending <= 0);
}

std::string DecodeAll(std::string_view bytes, const std::string& name) {
  CharsetDecoder decoder(name);
  std::string out(bytes.size() + 16, '\0');
  size_t made = 0;
  for (;;) {
    size_t used = 0;
    made += decoder.Decode(bytes, out.data() + made, out.size() - made, used, true);
    bytes.remove_prefix(used);
    if (bytes.empty() && decoder.Idle() && made < out.size()) break;
    out.resize(out.size() * 2);
  }
  out.resize(made);
  return out;
}

}  // namespace vorn
