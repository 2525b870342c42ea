#include "VersionRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Fd.h"
#include "txthandling.h"

namespace vorn {

namespace {

constexpr std::string_view kHeader("VornVersionRecord\0", 18);
constexpr uint64_t kMaxRecord = 64 * 1024;       // a larger section is not ours
constexpr uint64_t kMaxNames = 4 * 1024 * 1024;  // section name table
constexpr uint64_t kMaxSections = 1 << 20;

class File {
 public:
  // Non-blocking, so a FIFO given by mistake cannot hang the open; only regular files are read.
  explicit File(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st {};
    if (fd_.ok() && ::fstat(fd_.fd(), &st) == 0 && S_ISREG(st.st_mode))
      size_ = static_cast<uint64_t>(st.st_size);
  }
  // Reads exactly n bytes at offset, inside the file, or fails.
  bool Read(uint64_t offset, void* out, uint64_t n) const {
    if (!fd_.ok() || offset > size_ || n > size_ - offset) return false;
    auto* p = static_cast<char*>(out);
    while (n > 0) {
      const ssize_t got = ::pread(fd_.fd(), p, n, static_cast<off_t>(offset));
      if (got <= 0) return false;
      p += got;
      offset += static_cast<uint64_t>(got);
      n -= static_cast<uint64_t>(got);
    }
    return true;
  }

 private:
  Fd fd_;
  uint64_t size_ = 0;
};

// Reads little- or big-endian fields of the width the ELF class gives.
struct Fields {
  bool big;
  uint64_t Get(const unsigned char* p, int width) const {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
      const int shift = big ? (width - 1 - i) * 8 : i * 8;
      v |= static_cast<uint64_t>(p[i]) << shift;
    }
    return v;
  }
};

struct Section {
  uint64_t name, type, offset, size, link;
};

}  // namespace

std::optional<std::string> ReadVersionRecord(const std::string& path) {
  const File file(path);
  return ReadVersionRecordFrom(
      [&file](uint64_t offset, void* out, uint64_t n) { return file.Read(offset, out, n); });
}

std::optional<std::string> ReadVersionRecordFrom(const ReadFileBytes& read) {
  unsigned char ident[64] = {};
  if (!read(0, ident, 52)) return std::nullopt;
  if (std::memcmp(ident,
                  "\x7f"
                  "ELF",
                  4) != 0)
    return std::nullopt;
  const bool wide = ident[4] == 2;
  if ((ident[4] != 1 && !wide) || (ident[5] != 1 && ident[5] != 2)) return std::nullopt;
  if (wide && !read(0, ident, 64)) return std::nullopt;
  const Fields f{ident[5] == 2};
  const int word = wide ? 8 : 4;
  const uint64_t shoff = f.Get(ident + (wide ? 0x28 : 0x20), word);
  const uint64_t shentsize = f.Get(ident + (wide ? 0x3A : 0x2E), 2);
  uint64_t shnum = f.Get(ident + (wide ? 0x3C : 0x30), 2);
  uint64_t shstrndx = f.Get(ident + (wide ? 0x3E : 0x32), 2);
  const uint64_t minEntry = wide ? 64 : 40;
  if (shoff == 0 || shentsize < minEntry || shentsize > 4096) return std::nullopt;

  std::vector<unsigned char> entry(shentsize);
  const auto section = [&](uint64_t index) -> std::optional<Section> {
    if (index > (UINT64_MAX - shoff) / shentsize) return std::nullopt;
    if (!read(shoff + index * shentsize, entry.data(), shentsize)) return std::nullopt;
    const unsigned char* e = entry.data();
    return Section{f.Get(e, 4), f.Get(e + 4, 4), f.Get(e + (wide ? 24 : 16), word),
                   f.Get(e + (wide ? 32 : 20), word), f.Get(e + (wide ? 40 : 24), 4)};
  };
  // Files with very many sections keep the real counts in the first section header.
  if (shnum == 0 || shstrndx == 0xFFFF) {
    const auto first = section(0);
    if (!first) return std::nullopt;
    if (shnum == 0) shnum = first->size;
    if (shstrndx == 0xFFFF) shstrndx = first->link;
  }
  if (shnum == 0 || shnum > kMaxSections || shstrndx >= shnum) return std::nullopt;

  const auto names = section(shstrndx);
  if (!names || names->size == 0 || names->size > kMaxNames) return std::nullopt;
  std::string table(names->size, '\0');
  if (!read(names->offset, table.data(), names->size)) return std::nullopt;

  constexpr uint64_t kNoBits = 8;
  for (uint64_t i = 1; i < shnum; ++i) {
    const auto s = section(i);
    if (!s) return std::nullopt;
    if (s->name >= table.size()) continue;
    const std::string_view name(table.c_str() + s->name);
    if (name != kVersionSection) continue;
    if (s->type == kNoBits || s->size == 0 || s->size > kMaxRecord) return std::nullopt;
    std::string record(s->size, '\0');
    if (!read(s->offset, record.data(), s->size)) return std::nullopt;
    if (record.compare(0, kHeader.size(), kHeader) != 0) return std::nullopt;
    return record;
  }
  return std::nullopt;
}

std::optional<std::string> QueryVersionValue(std::string_view record, std::string_view path) {
  if (record.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  size_t pos = kHeader.size();
  // Takes the next zero-terminated string; a string that runs off the end is not a string.
  const auto next = [&](std::string_view& out) {
    const size_t end = record.find('\0', pos);
    if (end == std::string_view::npos) return false;
    out = record.substr(pos, end - pos);
    pos = end + 1;
    return true;
  };
  std::string_view key, value;
  while (next(key) && !key.empty()) {
    if (!next(value)) return std::nullopt;
    if (SameIgnoringAsciiCase(key, path)) return std::string(value);
  }
  return std::nullopt;
}

}  // namespace vorn
