// Fast search of one pattern in large buffers: a vector filter on rare bytes of the pattern
// finds candidates, which are then compared whole. Exact, or through a key table (bytes are
// equal when their keys are equal), or unit by unit, where each unit of the pattern may match
// any one of a few byte strings (the case variants of a letter, of different lengths).
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

using KeyTable = std::array<unsigned char, 256>;

// Whether the processor runs AVX2 code (checked once).
bool HasAvx2();

class PatternScanner {
 public:
  static constexpr size_t npos = std::string_view::npos;

  // keys == nullptr compares bytes exactly. The table must outlive the scanner.
  PatternScanner(std::string_view pattern, const KeyTable* keys);

  // The pattern as units, each matching any one of its forms (1 to 4 bytes each, none a
  // prefix of another of the same unit). Where units have forms of different lengths, a match
  // is found from its rarest stretch of fixed length outwards.
  explicit PatternScanner(const std::vector<std::vector<std::string>>& units);

  // The same units, where every unit's one-byte forms are the bytes equal to the pattern's
  // byte under keys and its other forms, longer, are rare in text (an ASCII "k" also matches
  // KELVIN SIGN). The pattern is found through the key table; only where one of the longer
  // forms may begin near a candidate are the units compared there. Falls back to the units
  // alone when the longer forms begin with more than two byte pairs.
  PatternScanner(std::string_view pattern, const KeyTable* keys,
                 const std::vector<std::vector<std::string>>& units);

  // Bytes [begin, end) of a text, all below 0x80.
  struct AsciiSpan {
    size_t begin = 0, end = 0;
  };

  // Offset of the first occurrence that begins at or after from, or npos; its length in
  // length. An empty pattern is never found. Given ascii, the vector filter may name a span of
  // the text it read and found all ASCII (at no cost beyond the search).
  size_t Find(std::string_view text, size_t from, size_t& length, AsciiSpan* ascii = nullptr) const;
  size_t Find(std::string_view text, size_t from) const {
    size_t length = 0;
    return Find(text, from, length);
  }

  // The length of the longest occurrence.
  size_t size() const { return maxLength_; }

 private:
  // The byte values that match the byte at offset from the anchor; at most two take the
  // vector filter.
  struct ByteClass {
    size_t offset = 0;
    unsigned char a = 0, b = 0;
    int count = 0;
  };
  // One form of a unit.
  struct Form {
    unsigned char length = 0;
    std::array<unsigned char, 4> bytes{};
  };
  struct Unit {
    size_t first = 0, count = 0;  // its forms in forms_
  };

  ByteClass ClassAt(size_t offset) const;
  // The values of byte k of a unit's forms, at offset from the anchor.
  ByteClass UnitClass(size_t unit, size_t k, size_t offset) const;
  void ChooseFilter(std::vector<ByteClass> classes);
  bool Matches(const char* at) const;
  // The filter's byte pairs, in order: first_.a, first_.b, second_.a, ... third_.b.
  std::array<char, 6> FilterBytes() const;
  size_t FindScalar(std::string_view text, size_t from) const;
  template <bool Track, bool Single, typename Take>
  size_t FindWide(std::string_view text, size_t& from, size_t room, const Take& take,
                  AsciiSpan* ascii) const;
  template <typename Take>
  size_t Filter(std::string_view text, size_t& from, size_t room, const Take& take,
                AsciiSpan* ascii = nullptr) const;
  // The pattern whole, exactly or through the key table.
  size_t FindPattern(std::string_view text, size_t from, size_t& length, AsciiSpan* ascii) const;

  // Unit by unit.
  size_t FindUnits(std::string_view text, size_t from, size_t& length,
                   AsciiSpan* ascii = nullptr) const;
  bool UnitsAround(std::string_view text, size_t anchor, size_t from, size_t& start,
                   size_t& end) const;

  // Through the key table, with the units only around the longer forms.
  size_t FindKeyedFirst(std::string_view text, size_t from, size_t& length, AsciiSpan* ascii) const;
  // The first place in [from, end) where a longer form may begin (its first two bytes are
  // there), or npos; reads no byte at or past text's end.
  size_t FindLongerForm(std::string_view text, size_t from, size_t end) const;

  std::string pattern_;
  std::string keyed_;  // the pattern's keys, for the folded comparison
  const KeyTable* keys_ = nullptr;
  ByteClass first_, second_, third_;
  bool vectorFilter_ = false;
  int filterScore_ = 1 << 20;  // how common the filter's bytes are; lower is better
  size_t maxLength_ = 0;

  std::vector<Unit> units_;
  std::vector<Form> forms_;
  size_t anchorUnit_ = 0;                 // the filter's offsets count from where this unit begins
  size_t anchorRoom_ = 0;                 // bytes from there the filter reads
  size_t minPrefix_ = 0, maxPrefix_ = 0;  // bytes of the units before it
  std::array<bool, 256> anchorLead_{};    // without a filter: the bytes the anchor unit begins with

  // Found through the key table first: that scanner, and the first two bytes of the longer
  // forms (a pair repeated when there is one).
  std::shared_ptr<const PatternScanner> keyedScanner_;
  std::array<unsigned char, 4> longerLeads_{};
};

}  // namespace vorn
