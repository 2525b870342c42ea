// Fuzz entry for the line splitter: the break scans and counts against a byte-by-byte
// reading of the same buffer, and the file reader's blocks (tiny blocks, overlaps, whole-line
// mode, from the first two bytes) against the text of the file they were cut from.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Fd.h"
#include "FileReader.h"
#include "LineBreaks.h"
#include "Utf16Text.h"

namespace vorn {
namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Breaks in [a, b) as the splitter defines them: LF, CR LF, a lone CR; a CR at b - 1 counts.
size_t NaiveBreaks(std::string_view s, size_t a, size_t b) {
  size_t n = 0;
  for (size_t i = a; i < b; ++i)
    n += s[i] == '\n' || (s[i] == '\r' && !(i + 1 < b && s[i + 1] == '\n'));
  return n;
}

void CheckScans(std::string_view s, size_t a, size_t b) {
  const char* begin = s.data();
  const char* end = begin + s.size();
  // Forward, line by line.
  size_t lines = 0;
  for (const char* p = begin; p < end;) {
    const char* next = FindNextBreak(p, end);
    for (const char* q = p; q < next; ++q) Check(!IsBreakByte(*q));
    ++lines;
    if (next == end) break;
    p = SkipBreak(next, end);
  }
  Check(lines == LineCount(s));
  // Backward, break by break.
  for (const char* p = end; p > begin;) {
    const char* last = FindLastBreak(begin, p);
    for (const char* q = last ? last + 1 : begin; q < p; ++q) Check(!IsBreakByte(*q));
    if (!last) break;
    Check(IsBreakByte(*last));
    p = last;
  }
  Check(CountBreaks(begin + a, begin + b) == NaiveBreaks(s, a, b));
  Check(CountBreaks(begin, end) == NaiveBreaks(s, 0, s.size()));
}

void CheckReader(std::string_view bytes, std::uint8_t mode) {
  const Fd file(memfd_create("lines", MFD_CLOEXEC));
  if (!file.ok()) return;
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(file.fd(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
  // The blocks hold the file's text: UTF-16 decoded, a UTF-8 mark left out.
  std::string decoded;
  std::string_view s = bytes;
  if (DecodeMarkedUtf16(bytes, decoded))
    s = decoded;
  else if (MarkAt(bytes) == TextMark::Utf8)
    s.remove_prefix(3);
  FileReader reader(size_t{1} + mode % 97);
  reader.SetOverlap(mode / 97 % 2 ? 0 : 1 + mode % 13);
  reader.SetWholeLines(mode >= 194);
  // The bytes as they are: a legacy encoding's decoding is checked on its own.
  reader.SetEncoding(kEncodingUtf8);
  if (!reader.Open("/proc/self/fd/" + std::to_string(file.fd()))) return;
  std::string joined;
  std::string_view block;
  bool partialBefore = false;
  while (reader.NextBlock(block)) {
    Check(reader.Carried() <= block.size() && (partialBefore || reader.Carried() == 0));
    Check(reader.Carried() <= reader.Overlap());
    Check(!block.empty() && block.size() <= s.size() + reader.Carried());
    const std::string_view added = block.substr(reader.Carried());
    Check(s.substr(joined.size(), added.size()) == added);
    joined.append(added);
    if (!reader.AtEnd() && !reader.Partial()) {
      // A whole-line block ends after a break that the next block does not continue.
      Check(IsBreakByte(block.back()));
      Check(!(block.back() == '\r' && joined.size() < s.size() && s[joined.size()] == '\n'));
    }
    Check(!reader.Partial() || (mode < 194 && block.back() != '\r'));
    partialBefore = reader.Partial();
    // Counting a file no longer in the buffer reads a megabyte: for a few settings only, in
    // the middle, at the last block and after the end.
    if ((mode % 64 == 0 && joined.size() == added.size()) || (mode % 64 == 1 && reader.AtEnd()))
      Check(reader.CountLines() == LineCount(s));
  }
  Check(!reader.Failed() && joined == s);
  if (mode % 64 == 2) Check(reader.CountLines() == LineCount(s));
}

}  // namespace
}  // namespace vorn

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view s(reinterpret_cast<const char*>(data) + 2, size - 2);
  // A sub-range for the count, from the first byte; the reader's settings from the second.
  const size_t a = s.empty() ? 0 : data[0] % (s.size() + 1);
  const size_t b = a + (s.size() - a) / 2;
  vorn::CheckScans(s, a, b);
  vorn::CheckReader(s, data[1]);
  return 0;
}
