// Small text helpers on byte strings.
#pragma once

#include <string>
#include <string_view>

namespace vorn {

// The text with every occurrence of c removed; the other bytes keep their order.
std::string RemoveChar(std::string_view text, char c);

// True when part occurs in text, comparing bytes exactly. False when either is empty or the
// text is shorter than the part.
bool HasSubstring(std::string_view text, std::string_view part);

// Only the bytes a to z change.
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
std::string AsciiUpperCase(std::string_view text);

// Leading and trailing bytes with codes 0 to 32 removed.
std::string_view Trimmed(std::string_view text);

}  // namespace vorn
