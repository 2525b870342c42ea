// Substring search over byte strings, exact or through the locale's upper-case fold table.
// Positions are 1-based; 0 means "not found".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vorn {

using FoldTable = std::array<unsigned char, 256>;
using ShiftTable = std::array<int32_t, 256>;

// Entry b is the upper-case form of byte b under the locale of the first call (the program
// sets its locale before anything searches). Built once, read-only afterwards.
const FoldTable& UpperFoldTable();

// FindPattern and the scans below it are kept for the design's interface (and its tests and
// benchmark); the program searches with LineMatcher and does not call them.
// Dispatches to ScanForward or ScanBackward, exact or folded.
int32_t FindPattern(std::string_view pattern, std::string_view text, bool caseSensitive,
                    int32_t start, bool forward);

// Fills table for a forward search of the pattern's bytes; keys are the bytes themselves, or
// their folded forms when fold is given. A length of 0 is refused ("BufferLen is 0").
void BuildShiftTable(const unsigned char* pattern, int32_t length, ShiftTable& table,
                     const FoldTable* fold = nullptr);

// Boyer-Moore-Horspool: the leftmost occurrence beginning at or after start (start >= 1).
int32_t ScanForward(std::string_view text, std::string_view pattern, int32_t start,
                    bool caseSensitive);

// The rightmost occurrence beginning at or before start (the last possible one when start is 0
// or too large).
int32_t ScanBackward(std::string_view text, std::string_view pattern, int32_t start,
                     bool caseSensitive);

}  // namespace vorn
