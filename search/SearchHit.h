// One hit of a search: the file, the line's 0-based index and the line as shown. The engine
// hands hits to its listener, the result list keeps them, and the result actions and the
// viewer take them back from the list, never by cutting the shown line apart, so a path with
// "(", ")" or ":" in it stays whole. A hit views bytes its giver keeps: the engine's for the
// call it is handed to, the result list's until the list is cleared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

struct SearchHit {
  std::string_view path;      // the file's full path, bytes as listed
  std::size_t lineIndex = 0;  // 0-based
  std::string_view text;      // the line as shown: at most its first 4096 bytes
  bool binary = false;        // asked for by the search: the file holds NUL bytes
};

// Appends the hit's result line: path " (" index ")  :  " text.
void AppendResultLine(std::string& out, const SearchHit& hit);

}  // namespace vorn
