// Letters without regard to case, as Unicode's simple case folding has them (its common and
// simple mappings, never the ones that turn one letter into several), taken from the system's
// ICU. Text is UTF-8; bytes that are not valid UTF-8 have no case and compare exactly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Utf8.h"

namespace vorn {

// The folded form of one code point (itself when it has none).
char32_t SimpleFold(char32_t c);

// Whether a and b are the same letter when case is ignored ("K" and KELVIN SIGN, "σ" and "ς").
inline bool SameIgnoringCase(char32_t a, char32_t b) {
  return a == b || SimpleFold(a) == SimpleFold(b);
}

// Every code point that folds as c does, c among them, in ascending order.
std::vector<char32_t> CaseVariants(char32_t c);

// A query taken apart into units, each with every byte string it matches when case is
// ignored: a code point, each of its case variants in UTF-8; a byte that is not valid UTF-8,
// only itself. No form of a unit is a prefix of another.
std::vector<std::vector<std::string>> CaseFoldedUnits(std::string_view query);

}  // namespace vorn
