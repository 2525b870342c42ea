// Fuzz entry for the version record of a program file: the input is the whole file. A record
// found is the section's bytes and starts with the header; looking a value up in it, or in
// the raw input taken as a record, gives a value from inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "VersionRecord.h"

namespace vorn {
namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckLookUp(std::string_view record) {
  const auto value = vorn::QueryVersionValue(record, "\\StringFileInfo\\040604E4\\FileVersion");
  if (!value) return;
  Check(value->find('\0') == std::string::npos && value->size() < record.size());
}

}  // namespace
}  // namespace vorn

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto record = vorn::ReadVersionRecordFrom([&](uint64_t offset, void* out, uint64_t n) {
    if (offset > size || n > size - offset) return false;
    std::memcpy(out, data + offset, n);
    return true;
  });
  if (record) {
    vorn::Check(record->size() <= size && record->compare(0, 18, "VornVersionRecord\0", 18) == 0);
    vorn::CheckLookUp(*record);
  }
  vorn::CheckLookUp(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
