#include "SearchHit.h"

#include <charconv>

namespace vorn {

void AppendResultLine(std::string& out, const SearchHit& hit) {
  char digits[24];
  const auto number = std::to_chars(digits, digits + sizeof digits, hit.lineIndex);
  out.append(hit.path);
  out += " (";
  out.append(digits, number.ptr);
  out += ")  :  ";
  out.append(hit.text);
}

}  // namespace vorn
