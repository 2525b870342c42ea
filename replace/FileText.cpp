#include "FileText.h"

#include <algorithm>

#include "LineBreaks.h"
#include "Utf16Text.h"
#include "Utf8.h"

namespace vorn {

namespace {
constexpr size_t kNone = std::string::npos;
constexpr size_t kBinaryHead = size_t{64} << 10;
}  // namespace

FileText::FileText(std::string bytes) : bytes_(std::move(bytes)) {
  switch (MarkAt(bytes_)) {
    case TextMark::Utf8:
      encoding_ = TextEncoding::Utf8Marked;
      SplitBytes(3);
      break;
    case TextMark::Utf16LE:
      encoding_ = TextEncoding::Utf16LE;
      SplitUnits(2);
      break;
    case TextMark::Utf16BE:
      encoding_ = TextEncoding::Utf16BE;
      SplitUnits(2);
      break;
    case TextMark::None:
      SplitBytes(0);
      break;
  }
}

void FileText::SplitBytes(size_t from) {
  const char* const base = bytes_.data();
  const char* const end = base + bytes_.size();
  for (const char* p = base + from; p < end;) {
    const char* brk = FindNextBreak(p, end);
    const char* next = brk == end ? end : SkipBreak(brk, end);
    lines_.push_back({static_cast<size_t>(p - base), static_cast<size_t>(brk - base),
                      static_cast<size_t>(next - base)});
    p = next;
  }
}

char16_t FileText::Unit(size_t at) const {
  const auto b0 = static_cast<unsigned char>(bytes_[at]);
  const auto b1 = static_cast<unsigned char>(bytes_[at + 1]);
  return encoding_ == TextEncoding::Utf16BE ? static_cast<char16_t>(b0 << 8 | b1)
                                            : static_cast<char16_t>(b1 << 8 | b0);
}

void FileText::SplitUnits(size_t from) {
  const size_t size = bytes_.size();
  size_t begin = from;
  for (size_t at = from; at < size;) {
    if (at + 1 >= size) break;  // a last odd byte belongs to the last line
    const char16_t u = Unit(at);
    if (u != u'\n' && u != u'\r') {
      at += 2;
      continue;
    }
    size_t next = at + 2;
    if (u == u'\r' && next + 1 < size && Unit(next) == u'\n') next += 2;
    lines_.push_back({begin, at, next});
    begin = at = next;
  }
  if (begin < size) lines_.push_back({begin, size, size});
}

std::string_view FileText::LineEnd(size_t index) const {
  const TextLine& line = lines_[index];
  return std::string_view(bytes_).substr(line.end, line.next - line.end);
}

std::string FileText::Text(size_t index, std::vector<size_t>* map) const {
  const TextLine& line = lines_[index];
  if (!Utf16()) {
    if (map) {
      map->resize(line.end - line.begin + 1);
      for (size_t k = 0; k < map->size(); ++k) (*map)[k] = line.begin + k;
    }
    return bytes_.substr(line.begin, line.end - line.begin);
  }
  std::string text;
  if (map) map->clear();
  const auto put = [&](char32_t c, size_t at) {
    const size_t before = text.size();
    AppendUtf8(text, c);
    if (map) {
      map->push_back(at);
      map->resize(map->size() + (text.size() - before - 1), kNone);
    }
  };
  size_t at = line.begin;
  while (at < line.end) {
    if (at + 1 >= line.end) {  // a last odd byte
      put(0xFFFD, at);
      ++at;
      continue;
    }
    const char16_t u = Unit(at);
    if (u >= 0xD800 && u < 0xDC00 && at + 3 < line.end) {
      const char16_t low = Unit(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        put(0x10000 + ((char32_t{u} - 0xD800) << 10) + (low - 0xDC00), at);
        at += 4;
        continue;
      }
    }
    put(u >= 0xD800 && u < 0xE000 ? char32_t{0xFFFD} : char32_t{u}, at);
    at += 2;
  }
  if (map) map->push_back(line.end);
  return text;
}

std::string FileText::Encode(std::string_view utf8) const {
  if (!Utf16()) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size() * 2);
  const bool big = encoding_ == TextEncoding::Utf16BE;
  const auto unit = [&](char16_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big ? hi : lo;
    out += big ? lo : hi;
  };
  for (size_t at = 0; at < utf8.size();) {
    char32_t c = 0;
    const size_t n = DecodeUtf8At(utf8.substr(at), c);
    if (n == 0) {  // not UTF-8: what the search would have shown for it
      c = 0xFFFD;
      at += 1;
    } else {
      at += n;
    }
    if (c >= 0x10000) {
      unit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      unit(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      unit(static_cast<char16_t>(c));
    }
  }
  return out;
}

bool FileText::BinaryAt(const std::vector<size_t>& lines) const {
  if (Utf16()) return false;
  const std::string_view all(bytes_);
  if (all.substr(0, kBinaryHead).find('\0') != std::string_view::npos) return true;
  return std::any_of(lines.begin(), lines.end(), [&](size_t i) {
    const TextLine& line = lines_[i];
    return all.substr(line.begin, line.end - line.begin).find('\0') != std::string_view::npos;
  });
}

}  // namespace vorn
