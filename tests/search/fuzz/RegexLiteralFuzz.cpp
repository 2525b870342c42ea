// Fuzz entry for reading patterns: the literal a pattern is read to require, and the scan of
// many lines at once, must never lose a line the pattern matches on its own. The first byte
// holds the options (bit 0 Match Case, bit 1 Whole Word), the pattern runs to the first LF,
// and the lines follow, one per LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "LineMatcher.h"
#include "RegexMatcher.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsAscii(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool matchCase = data[0] & 1;
  const bool wholeWord = data[0] & 2;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t cut = input.find('\n');
  if (cut == std::string_view::npos) return 0;
  const std::string pattern(input.substr(0, cut));
  const std::string_view text = input.substr(cut + 1);
  const auto regex = vorn::RegexMatcher::Compile(pattern, matchCase, wholeWord, nullptr);
  if (!regex) return 0;
  const vorn::RegexLiteral required = vorn::RequiredLiteral(pattern, matchCase);
  const vorn::LineMatcher literal(vorn::SearchOptions{required.bytes, wholeWord, matchCase});
  const vorn::PatternScanner scanner(required.bytes,
                                     matchCase ? nullptr : &vorn::CaseInsensitiveKeys());
  const vorn::LineMatcher asPattern(vorn::SearchOptions{pattern, wholeWord, matchCase, true});
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (regex->Decide(line) == vorn::RegexVerdict::Hit) {
      Check(scanner.Find(line, 0) != vorn::PatternScanner::npos || required.bytes.empty());
      size_t at = 0;
      if (regex->ScansLines() && regex->NextCandidate(text, start, IsAscii(text), &at))
        Check(at <= end);
    }
    if (required.plain) Check(literal.IsHit(line) == asPattern.IsHit(line));
    start = end + 1;
  }
  return 0;
}
