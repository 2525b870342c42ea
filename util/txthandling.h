// Small text helpers on byte strings.
#pragma once

#include <string>
#include <string_view>

namespace vorn {

// Kept for the design's interface (and its tests); the program itself does not call it.
// The text with every occurrence of c removed; the other bytes keep their order.
std::string RemoveChar(std::string_view text, char c);

// Kept for the design's interface (and its tests); the program itself does not call it.
// True when part occurs in text, comparing bytes exactly. False when either is empty or the
// text is shorter than the part.
bool HasSubstring(std::string_view text, std::string_view part);

// Only the bytes a to z change.
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
// Equal when the ASCII letters are taken without regard to case; every other byte exactly.
bool SameIgnoringAsciiCase(std::string_view a, std::string_view b);

// The value of a hexadecimal digit (either case), or -1 for any other byte.
int HexDigit(char c);
// AsciiUpperCase is kept for the design's interface; the program itself does not call it.
std::string AsciiUpperCase(std::string_view text);

// Leading and trailing bytes with codes 0 to 32 removed.
std::string_view Trimmed(std::string_view text);

// Kept for the design's interface (and its tests); the program itself does not call it.
// The n-th field (n >= 1) of text + separator: field 1 is everything before the first
// separator, field k everything between the (k-1)-th and the k-th. Empty fields count; a
// field number beyond the last field (or below 1) gives the empty string.
std::string GetField(std::string_view text, int n, char separator);

// Kept for the design's interface (and its tests); the program itself does not call it.
// The bytes strictly between the first open and the first close, both searched from the
// start. Empty when either is missing or the first close does not come after the first open
// with at least one byte between them.
std::string TextBetween(std::string_view text, char open, char close);

// A copy of text with every from replaced by to.
std::string ReplaceChar(std::string_view text, char from, char to);

}  // namespace vorn
