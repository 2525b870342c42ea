// Reading the version record that the build stores in a section of the program file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// The name of the ELF section that holds the record.
inline constexpr std::string_view kVersionSection = ".vorn_version";

// The raw record of a program file, or nothing when the file cannot be read, is not an ELF file,
// or has no such section. Damaged files give nothing rather than a wrong answer.
std::optional<std::string> ReadVersionRecord(const std::string& file);

// Reads exactly n bytes at offset of a program file into out; false when they are not all there.
using ReadFileBytes = std::function<bool(uint64_t offset, void* out, uint64_t n)>;

// The same from any source of a program file's bytes (the fuzz target reads from a buffer).
std::optional<std::string> ReadVersionRecordFrom(const ReadFileBytes& read);

// The value stored under a path such as "\StringFileInfo\040604E4\FileVersion" (paths compare
// without regard to ASCII case), or nothing when the record has no such value.
std::optional<std::string> QueryVersionValue(std::string_view record, std::string_view path);

}  // namespace vorn
