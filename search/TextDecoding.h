// Text files in legacy encodings: a file that is neither UTF-8 nor UTF-16 with a byte-order
// mark is read in the encoding its first bytes show (ICU's charset detector decides where it is
// sure enough, otherwise Windows-1252), or in the one the user names, and searched and shown
// as its UTF-8 text.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vorn {

// The setting: an empty name reads each file in the encoding found for it, "utf-8" takes every
// file's bytes as they are, any other name is an encoding every file without a mark is read in.
inline constexpr std::string_view kEncodingAuto;
inline constexpr std::string_view kEncodingUtf8 = "utf-8";

// The bytes of a file's head that decide its encoding.
constexpr size_t kEncodingHead = size_t{64} << 10;

// The offset of the first byte of 0x80 or more from `from` on, or the size.
size_t NextHighByte(std::string_view bytes, size_t from);

// Whether bytes are valid UTF-8; complete false allows a sequence cut at their end.
bool IsUtf8(std::string_view bytes, bool complete);

// The encoding legacy text is in, by its bytes (which are not valid UTF-8): the detector's
// answer where the text gives it enough evidence, otherwise "windows-1252".
std::string DetectLegacyEncoding(std::string_view head);

// The encoding to decode a file without a byte-order mark in, given the setting and its head
// (complete: the head is the whole file); empty where its bytes are taken as they are (UTF-8,
// binary files, and every file with the setting "utf-8").
std::string EncodingForHead(std::string_view head, bool complete, std::string_view setting);

// The standard name of an encoding ICU knows by name (any alias), or empty.
std::string KnownEncoding(std::string_view name);

// Bytes in an encoding to UTF-8 as a stream, in the manner of Utf16Decoder: input and output
// may be cut anywhere between calls. Bytes that are not valid in the encoding become U+FFFD.
class CharsetDecoder {
 public:
  // Throws std::invalid_argument for a name ICU does not know.
  explicit CharsetDecoder(const std::string& name);
  ~CharsetDecoder();
  CharsetDecoder(const CharsetDecoder&) = delete;
  CharsetDecoder& operator=(const CharsetDecoder&) = delete;

  // Decodes from in into out, writing at most room bytes; returns the bytes written and sets
  // used to the input bytes taken. With last, in ends the text.
  size_t Decode(std::string_view in, char* out, size_t room, size_t& used, bool last);
  // Nothing held back.
  bool Idle() const;
  const std::string& Name() const { return name_; }

 private:
  struct Converters;
  std::unique_ptr<Converters> c_;
  std::string name_;
};

// Whole bytes to UTF-8 in the encoding named.
std::string DecodeAll(std::string_view bytes, const std::string& name);

}  // namespace vorn
