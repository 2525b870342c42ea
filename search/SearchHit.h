// One line a search found: the file, the line's 0-based index and the line as shown, with
// every match's byte range in it; or a context line around hits, or a break between two
// groups of context. The engine hands them to its sink, the result list keeps the hits, and
// the result actions and the viewer take them back from the list, never by cutting the shown
// line apart, so a path with "(", ")" or ":" in it stays whole. A hit views bytes its giver
// keeps: the engine's for the call it is handed to, the result list's until it is cleared.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vorn {

struct KeptHit;

// A match in a line: bytes [begin, end) of the line as found (for a UTF-16 file, of its
// UTF-8 text as shown). Ranges of one line are in order and never overlap; an empty range
// (a pattern's empty match) has begin == end.
struct MatchRange {
  size_t begin = 0;
  size_t end = 0;
  bool operator==(const MatchRange&) const = default;
};

enum class FoundKind : unsigned char {
  Hit,      // a line that matches
  Context,  // a line asked for around hits; no matches
  Break,    // the lines after it are not next to those before it in the file ("--")
};

struct SearchHit {
  std::string_view path;      // the file's full path, bytes as listed
  std::size_t lineIndex = 0;  // 0-based
  std::string_view text;      // the line as shown: at most its first 4096 bytes
  bool binary = false;        // asked for by the search: the file holds NUL bytes
  // Every match that begins in the line's shown bytes, when the sink asked for ranges; the
  // last may reach past them.
  std::span<const MatchRange> matches = {};
  FoundKind kind = FoundKind::Hit;
  // The hit as written into the sink's shelf, when the sink gave one: the text and the
  // matches above view it there, and stay valid as long as the shelf.
  const KeptHit* kept = nullptr;
};

// Appends the hit's result line: path " (" index ")  :  " text.
void AppendResultLine(std::string& out, const SearchHit& hit);

}  // namespace vorn
