// A file's bytes taken apart into the lines the search sees, keeping where each line and its
// line end lie in the file: UTF-8 (or any bytes) with or without a byte-order mark, and UTF-16
// LE or BE with a mark, whose lines are searched as their UTF-8 text. Nothing is normalised:
// a replace puts new bytes only where its matches lie and copies every other byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

enum class TextEncoding { Bytes, Utf8Marked, Utf16LE, Utf16BE };

struct TextLine {
  size_t begin = 0;  // file offset of the line's first byte
  size_t end = 0;    // file offset past its text, where its line end begins
  size_t next = 0;   // file offset past its line end (== end for a last line without one)
};

class FileText {
 public:
  // bytes: the whole file. Lines split at LF, CR LF or a lone CR (in UTF-16, at those units);
  // a last empty line after a final line end is no line, as the search counts them.
  explicit FileText(std::string bytes);

  const std::string& Bytes() const { return bytes_; }
  TextEncoding Encoding() const { return encoding_; }
  const std::vector<TextLine>& Lines() const { return lines_; }
  size_t LineCount() const { return lines_.size(); }
  // The line's end in the file's own bytes (empty for a last line without one).
  std::string_view LineEnd(size_t index) const;

  // The line's text as the search saw it: UTF-8 (UTF-16 decoded, a lone surrogate or a last
  // odd byte as U+FFFD). With map, map[k] is the file offset where text byte k begins, or
  // npos inside a character; map[text.size()] is the line's end.
  std::string Text(size_t index, std::vector<size_t>* map = nullptr) const;
  // The file's bytes for UTF-8 text written into it (UTF-16 encoded for a UTF-16 file).
  std::string Encode(std::string_view utf8) const;
  // Whether a NUL byte makes the file binary as the search decides it: in its first 64 KiB
  // or in one of the lines given. UTF-16 text never is.
  bool BinaryAt(const std::vector<size_t>& lines) const;

 private:
  bool Utf16() const {
    return encoding_ == TextEncoding::Utf16LE || encoding_ == TextEncoding::Utf16BE;
  }
  char16_t Unit(size_t at) const;
  void SplitBytes(size_t from);
  void SplitUnits(size_t from);

  std::string bytes_;
  TextEncoding encoding_ = TextEncoding::Bytes;
  std::vector<TextLine> lines_;
};

}  // namespace vorn
