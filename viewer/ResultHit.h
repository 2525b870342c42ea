// What the result list keeps per item: the hit the result line was made for. The actions
// and the viewer take these values from the hit itself, never by cutting the shown line
// apart, so a path with "(", ")" or ":" in it stays whole.
#pragma once

#include <cstddef>
#include <string>

namespace vorn {

struct ResultHit {
  std::string path;           // the file's full path, bytes as listed
  std::size_t lineIndex = 0;  // 0-based line index in the file
  std::string text;           // the found line's text as the result line shows it
};

}  // namespace vorn
