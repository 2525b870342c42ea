// The result list written out as a file: the result lines, CSV, or JSON Lines with the
// fields of vorn-find's --json match objects.
#pragma once

#include <string>
#include <string_view>

#include "SearchHit.h"

namespace vorn {

enum class ResultFormat {
  Lines,      // the result lines, one per line, as bytes
  Csv,        // path, 1-based line, 1-based column of the first match (in bytes), text
  JsonLines,  // {"type":"match","path":DATA,"line":N,"text":DATA,"matches":[{"start":S,"end":E}]}
};

// What comes before the first record (CSV's header row), and one hit as a record. The hit's
// matches give the column and the matches; a line index in JSON is 0-based, as vorn-find
// gives it.
std::string_view ResultHeader(ResultFormat format);
void AppendResultRecord(std::string& out, ResultFormat format, const SearchHit& hit);

}  // namespace vorn
