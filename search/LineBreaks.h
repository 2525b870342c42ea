// Line breaks in byte buffers: a line ends at LF, CR LF or a lone CR; CR LF is one break.
#pragma once

#include <cstddef>
#include <string_view>

namespace vorn {

inline bool IsBreakByte(char c) { return c == '\n' || c == '\r'; }

// First CR or LF in [p, end), or end.
const char* FindNextBreak(const char* p, const char* end);

// Last CR or LF in [begin, p), or nullptr.
const char* FindLastBreak(const char* begin, const char* p);

// Number of breaks in [begin, end); a CR at end - 1 counts as a break of its own.
size_t CountBreaks(const char* begin, const char* end);

// The position after the break that starts at p (p < end, IsBreakByte(*p)).
inline const char* SkipBreak(const char* p, const char* end) {
  return (*p == '\r' && p + 1 < end && p[1] == '\n') ? p + 2 : p + 1;
}

// Lines of a whole buffer: a final empty line after a trailing break is not counted, so an
// empty buffer has none.
size_t LineCount(std::string_view buffer);

}  // namespace vorn
