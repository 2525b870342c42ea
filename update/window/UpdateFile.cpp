#include "UpdateFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Fd.h"
#include "UpdateSignature.h"
#include "VersionRecord.h"

namespace vorn {

namespace {

constexpr std::string_view kVersionPath = "\\StringFileInfo\\040604E4\\FileVersion";
constexpr std::string_view kNamePath = "\\StringFileInfo\\040604E4\\ProductName";
constexpr std::size_t kElfHeaderSize = 20;  // the ident, e_type and e_machine

// The dotted numbers of a version, or nothing for a text that is not one.
bool ParseVersion(std::string_view text, std::vector<std::uint64_t>& parts) {
  parts.clear();
  if (text.empty()) return false;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (const char c : text) {
    if (c == '.') {
      if (digits == 0) return false;
      parts.push_back(value);
      value = 0;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 18) return false;  // no real version has such a component
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  parts.push_back(value);
  return true;
}

std::uint16_t Half(const char* p, bool big) {
  const auto b0 = static_cast<unsigned char>(p[0]), b1 = static_cast<unsigned char>(p[1]);
  return static_cast<std::uint16_t>(big ? (b0 << 8) | b1 : (b1 << 8) | b0);
}

std::string ReadRunning(bool header) {
  if (header) {
    const Fd fd(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    char bytes[kElfHeaderSize] = {};
    if (!fd.ok() || ::pread(fd.fd(), bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
      return {};
    return std::string(bytes, sizeof bytes);
  }
  return ReadVersionRecord("/proc/self/exe").value_or(std::string());
}

}  // namespace

bool IsNewerVersion(std::string_view candidate, std::string_view current) {
  std::vector<std::uint64_t> a, b;
  if (!ParseVersion(candidate, a) || !ParseVersion(current, b)) return false;
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::uint64_t x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
    if (x != y) return x > y;
  }
  return false;
}

namespace {

std::optional<std::string> RecordIn(std::string_view update) {
  return ReadVersionRecordFrom([update](uint64_t offset, void* out, uint64_t n) {
    if (offset > update.size() || n > update.size() - offset) return false;
    std::memcpy(out, update.data() + offset, n);
    return true;
  });
}

}  // namespace

std::string FileVersionOf(std::string_view record) {
  return QueryVersionValue(record, kVersionPath).value_or(std::string());
}

std::string FileVersionIn(std::string_view program) {
  const auto record = RecordIn(program);
  return record ? FileVersionOf(*record) : std::string();
}

int AnswerUpdateHandshake(const char* fdText) {
  char* end = nullptr;
  const long fd = std::strtol(fdText, &end, 10);
  if (end == fdText || *end != '\0' || fd < 0 || fd > 1 << 20) {
    std::fprintf(stderr, "vorn: '%s' is not a descriptor\n", fdText);
    return 1;
  }
  const std::string version = FileVersionOf(RunningVersionRecord());
  if (version.empty()) {
    std::fputs("vorn: this build carries no version record\n", stderr);
    return 1;
  }
  if (!IsUsableUpdateKey(TrustedUpdateKey())) {
    std::fputs("vorn: the update key built into this program verifies no signature\n", stderr);
    return 1;
  }
  const std::string answer = "ready " + version + "\n";
  if (::write(static_cast<int>(fd), answer.data(), answer.size()) !=
      static_cast<ssize_t>(answer.size())) {
    std::perror("vorn: cannot answer the update handshake");
    return 1;
  }
  return 0;
}

bool IsNewerBuildOf(std::string_view update, std::string_view runningRecord) {
  const auto record = RecordIn(update);
  if (!record) return false;
  const auto name = QueryVersionValue(*record, kNamePath);
  const auto ownName = QueryVersionValue(runningRecord, kNamePath);
  if (!name || !ownName || name->empty() || *name != *ownName) return false;
  const auto version = QueryVersionValue(*record, kVersionPath);
  const auto ownVersion = QueryVersionValue(runningRecord, kVersionPath);
  return version && ownVersion && IsNewerVersion(*version, *ownVersion);
}

bool IsProgramForMachine(std::string_view update, std::string_view runningHeader) {
  if (update.size() < kElfHeaderSize || runningHeader.size() < kElfHeaderSize) return false;
  if (update.substr(0, 4) != std::string_view("\x7f"
                                              "ELF",
                                              4))
    return false;
  // Class and byte order (ident bytes 4 and 5), then the machine (e_machine at 18).
  if (update.substr(4, 2) != runningHeader.substr(4, 2)) return false;
  if (update.substr(18, 2) != runningHeader.substr(18, 2)) return false;
  constexpr std::uint16_t kExecutable = 2, kShared = 3;  // ET_EXEC, ET_DYN
  const std::uint16_t type = Half(update.data() + 16, update[5] == 2);
  return type == kExecutable || type == kShared;
}

std::string_view RunningVersionRecord() {
  static const std::string record = ReadRunning(false);
  return record;
}

std::string_view RunningProgramHeader() {
  static const std::string header = ReadRunning(true);
  return header;
}

}  // namespace vorn
