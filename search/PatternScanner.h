// Fast search of one pattern in large buffers: a vector filter on two rare bytes of the
// pattern finds candidates, which are then compared whole. Exact, or through a key table
// (bytes are equal when their keys are equal).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

using KeyTable = std::array<unsigned char, 256>;

// Whether the processor runs AVX2 code (checked once).
bool HasAvx2();

class PatternScanner {
 public:
  static constexpr size_t npos = std::string_view::npos;

  // keys == nullptr compares bytes exactly. The table must outlive the scanner.
  PatternScanner(std::string_view pattern, const KeyTable* keys);

  // Offset of the first occurrence that begins at or after from, or npos. An empty pattern
  // is never found.
  size_t Find(std::string_view text, size_t from) const;

  size_t size() const { return pattern_.size(); }

 private:
  // The byte values that match pattern_[offset]; at most two take the vector filter.
  struct ByteClass {
    size_t offset = 0;
    unsigned char a = 0, b = 0;
    int count = 0;
  };
  ByteClass ClassAt(size_t offset) const;
  bool Matches(const char* at) const;
  // The filter's byte pairs, in order: first_.a, first_.b, second_.a, ... third_.b.
  std::array<char, 6> FilterBytes() const;
  size_t FindScalar(std::string_view text, size_t from) const;
  size_t FindWide(std::string_view text, size_t& from) const;

  std::string pattern_;
  std::string keyed_;  // the pattern's keys, for the folded comparison
  const KeyTable* keys_;
  ByteClass first_, second_, third_;
  bool vectorFilter_ = false;
};

}  // namespace vorn
