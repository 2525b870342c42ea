#include "Packed.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "Fd.h"

namespace vorn {

namespace {

constexpr size_t kRawBlock = size_t{64} << 10;

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char c = s[s.size() - suffix.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

la_ssize_t ReadThunk(struct archive* /*a*/, void* self, const void** buffer) {
  return static_cast<PackedSource*>(self)->RawRead(buffer);
}

la_int64_t SeekThunk(struct archive* /*a*/, void* self, la_int64_t offset, int whence) {
  return static_cast<PackedSource*>(self)->RawSeek(offset, whence);
}

int OpenRegular(const std::string& path, Fd& fd) {
  fd.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.ok()) return errno;
  struct stat st {};
  if (fstat(fd.fd(), &st) != 0) return errno;
  return S_ISREG(st.st_mode) ? 0 : EISDIR;
}

}  // namespace

std::string FileErrorText(int error) {
  if (error == kErrorExpandsTooMuch)
    return "given up: its content expands more than " + std::to_string(kExpansionRatio) +
           " times (a decompression bomb)";
  if (error == kErrorDamagedArchive)
    return "the archive or compressed file is damaged or cut short";
  return std::strerror(error);
}

bool IsArchiveName(std::string_view path) {
  for (const std::string_view suffix :
       {".zip", ".tar", ".tgz", ".tbz", ".tbz2", ".txz", ".tzst", ".7z", ".cpio", ".tar.gz",
        ".tar.bz2", ".tar.xz", ".tar.zst", ".tar.lz4"})
    if (EndsWithNoCase(path, suffix)) return true;
  return false;
}

bool IsCompressedHead(std::string_view head) {
  return head.starts_with("\x1F\x8B") ||
         (head.size() >= 4 && head.starts_with("BZh") && head[3] >= '1' && head[3] <= '9') ||
         head.starts_with(std::string_view("\xFD"
                                           "7zXZ\0",
                                           6)) ||
         head.starts_with("\x28\xB5\x2F\xFD") || head.starts_with("\x04\x22\x4D\x18");
}

bool SplitMember(std::string_view path, std::string& archive, std::string& member) {
  for (size_t at = path.find(kMemberMark); at != std::string_view::npos;
       at = path.find(kMemberMark, at + 1)) {
    if (at == 0) continue;
    const std::string prefix(path.substr(0, at));
    struct stat st {};
    if (stat(prefix.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      archive = prefix;
      member = std::string(path.substr(at + kMemberMark.size()));
      return !member.empty();
    }
  }
  return false;
}

PackedSource::PackedSource(int fd)
    : fd_(fd), buffer_(fd >= 0 ? std::make_unique_for_overwrite<char[]>(kRawBlock) : nullptr) {
  struct stat st {};
  if (fstat(fd, &st) == 0) size_ = st.st_size;
}

PackedSource::~PackedSource() {
  if (a_) archive_read_free(a_);
}

long long PackedSource::RawRead(const void** buffer) {
  *buffer = buffer_.get();
  for (;;) {
    const ssize_t n = pread(fd_, buffer_.get(), kRawBlock, offset_);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      archive_set_error(a_, errno, "%s", std::strerror(errno));
      return -1;
    }
    offset_ += n;
    return n;
  }
}

long long PackedSource::RawSeek(long long offset, int whence) {
  const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? offset_ : size_;
  if (base + offset < 0) return ARCHIVE_FATAL;
  offset_ = base + offset;
  return offset_;
}

int PackedSource::Start(bool archive) {
  a_ = archive_read_new();
  if (!a_) return ENOMEM;
  archive_read_support_filter_all(a_);
  if (archive) {
    archive_read_support_format_zip(a_);
    archive_read_support_format_tar(a_);
    archive_read_support_format_gnutar(a_);
    archive_read_support_format_7zip(a_);
    archive_read_support_format_cpio(a_);
  } else {
    archive_read_support_format_raw(a_);
  }
  archive_read_set_callback_data(a_, this);
  archive_read_set_read_callback(a_, ReadThunk);
  archive_read_set_seek_callback(a_, SeekThunk);
  if (archive_read_open1(a_) != ARCHIVE_OK) return archive ? ENOEXEC : kErrorDamagedArchive;
  if (archive) return 0;
  struct archive_entry* entry = nullptr;
  if (archive_read_next_header(a_, &entry) != ARCHIVE_OK) return kErrorDamagedArchive;
  memberStart_ = archive_filter_bytes(a_, -1);
  inMember_ = true;
  return 0;
}

std::unique_ptr<PackedSource> PackedSource::Compressed(int fd, int& error) {
  std::unique_ptr<PackedSource> s(new PackedSource(fd));
  error = s->Start(false);
  return error == 0 ? std::move(s) : nullptr;
}

std::unique_ptr<PackedSource> PackedSource::Archive(int fd, int& error) {
  std::unique_ptr<PackedSource> s(new PackedSource(fd));
  error = s->Start(true);
  return error == 0 ? std::move(s) : nullptr;
}

std::unique_ptr<PackedSource> PackedSource::Held(std::string content) {
  std::unique_ptr<PackedSource> s(new PackedSource(-1));
  s->held_ = std::move(content);
  return s;
}

bool PackedSource::ExpandsTooMuch() const {
  const long long compressed = std::max(1ll, archive_filter_bytes(a_, -1) - memberStart_);
  return content_ > kExpansionFloor && content_ / compressed > kExpansionRatio;
}

int PackedSource::Drain(const std::function<bool()>& goOn) {
  // A zip's member is passed over by a seek; in a compressed stream it must be decompressed.
  if ((archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP) return 0;
  for (;;) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(a_, &block, &size, &offset);
    if (r == ARCHIVE_EOF) return 0;
    if (r < ARCHIVE_WARN) return kErrorDamagedArchive;
    content_ += static_cast<long long>(size);
    if (ExpandsTooMuch()) return kErrorExpandsTooMuch;
    if (goOn && !goOn()) return ECANCELED;
  }
}

int PackedSource::SeekMember(std::string_view member) {
  for (;;) {
    struct archive_entry* entry = nullptr;
    if (const int error = NextHeader(entry)) return error == ENOEXEC ? kErrorDamagedArchive : error;
    if (!entry) return ENOENT;
    const char* name = archive_entry_pathname(entry);
    if (archive_entry_filetype(entry) == AE_IFREG && name != nullptr && member == name) return 0;
  }
}

int PackedSource::NextHeader(struct archive_entry*& entry, const std::function<bool()>& goOn) {
  entry = nullptr;
  if (inMember_) {
    if (const int error = Drain(goOn)) return error;
  }
  const bool first = !inMember_;
  const int r = archive_read_next_header(a_, &entry);
  if (r == ARCHIVE_EOF) {
    entry = nullptr;
    return 0;
  }
  if (r < ARCHIVE_WARN) {
    entry = nullptr;
    return first ? ENOEXEC : kErrorDamagedArchive;
  }
  inMember_ = true;
  memberStart_ = archive_filter_bytes(a_, -1);
  content_ = 0;
  hole_ = 0;
  blockLeft_ = 0;
  return 0;
}

int PackedSource::ListAll(const std::function<bool(std::string_view)>& add,
                          const std::function<bool()>& goOn,
                          const std::function<void(std::string&&)>& hold) {
  std::string content;
  std::unique_ptr<char[]> scratch;
  for (;;) {
    struct archive_entry* entry = nullptr;
    if (const int error = NextHeader(entry, goOn)) return error == ECANCELED ? 0 : error;
    if (!entry || (goOn && !goOn())) return 0;
    const char* name = archive_entry_pathname(entry);
    if (archive_entry_filetype(entry) != AE_IFREG || name == nullptr || *name == 0) continue;
    // Only members the listing must decompress anyway are held: a zip's and a plain tar's
    // are passed over by a seek.
    const int format = archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK;
    if (!hold || format == ARCHIVE_FORMAT_ZIP ||
        (format != ARCHIVE_FORMAT_7ZIP && archive_filter_code(a_, 0) == ARCHIVE_FILTER_NONE)) {
      if (!add(name)) return 0;
      continue;
    }
    const std::string member = name;  // the entry's name is its own until the next header
    // A member that breaks off, or is too large to hold, is read again for its search, which
    // then tells of what broke it.
    content.clear();
    if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) > 0)
      content.reserve(static_cast<size_t>(
          std::min<la_int64_t>(archive_entry_size(entry), la_int64_t{kHeldMember} + 1)));
    if (!scratch) scratch = std::make_unique_for_overwrite<char[]>(kRawBlock);
    for (bool end = false; !end && content.size() <= kHeldMember;) {
      size_t got = 0;
      int error = 0;
      const bool read = Read(scratch.get(), kRawBlock, got, end, error);
      content.append(scratch.get(), got);
      // A member that breaks off is still listed: its search tells of what broke it.
      if (!read) return add(member) ? error : 0;
      if (goOn && !goOn()) return 0;
    }
    // The content is held before the name is listed: the search may take the name at once.
    if (content.size() <= kHeldMember) hold(std::move(content));
    if (!add(member)) return 0;
  }
}

bool PackedSource::Read(char* at, size_t room, size_t& got, bool& end, int& error) {
  if (a_) return ReadArchive(at, room, got, end, error);
  got = std::min(room, held_.size() - heldAt_);
  std::memcpy(at, held_.data() + heldAt_, got);
  heldAt_ += got;
  end = heldAt_ == held_.size();
  return true;
}

// Blocks as libarchive decodes them: a read that asked for more than the last good block
// would lose that block when the content breaks off after it.
bool PackedSource::ReadArchive(char* at, size_t room, size_t& got, bool& end, int& error) {
  got = 0;
  end = false;
  while (got < room) {
    if (hole_ > 0) {
      const size_t n =
          static_cast<size_t>(std::min<long long>(hole_, static_cast<long long>(room - got)));
      std::memset(at + got, 0, n);
      hole_ -= static_cast<long long>(n);
      got += n;
      continue;
    }
    if (blockLeft_ > 0) {
      const size_t n = std::min(blockLeft_, room - got);
      std::memcpy(at + got, blockAt_, n);
      blockAt_ += n;
      blockLeft_ -= n;
      got += n;
      continue;
    }
    if (got > 0) break;
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(a_, &block, &size, &offset);
    if (r == ARCHIVE_EOF) {
      end = true;
      break;
    }
    if (r < ARCHIVE_WARN) {
      error = kErrorDamagedArchive;
      return false;
    }
    // A sparse member's holes read as NUL bytes.
    if (offset > content_) hole_ = offset - content_;
    blockAt_ = static_cast<const char*>(block);
    blockLeft_ = size;
    content_ += hole_ + static_cast<long long>(size);
    if (ExpandsTooMuch()) {
      error = kErrorExpandsTooMuch;
      return false;
    }
  }
  return true;
}

int ListMembers(const std::string& path, const std::function<bool(std::string_view)>& add,
                const std::function<bool()>& goOn, const std::function<void(std::string&&)>& hold) {
  Fd fd;
  if (const int error = OpenRegular(path, fd)) return error;
  int error = 0;
  const std::unique_ptr<PackedSource> source = PackedSource::Archive(fd.fd(), error);
  if (!source) return error;
  // The members' names: the archive is read through once.
  return source->ListAll(add, goOn, hold);
}

int ReadPackedWhole(const std::string& path, size_t limit, std::string& out) {
  std::string archive, member;
  Fd fd;
  int error = 0;
  std::unique_ptr<PackedSource> source;
  if (SplitMember(path, archive, member)) {
    if ((error = OpenRegular(archive, fd))) return error;
    source = PackedSource::Archive(fd.fd(), error);
    if (source) error = source->SeekMember(member);
  } else {
    if ((error = OpenRegular(path, fd))) return error;
    char head[6];
    const ssize_t n = pread(fd.fd(), head, sizeof head, 0);
    if (n <= 0 || !IsCompressedHead(std::string_view(head, static_cast<size_t>(n)))) return ENOEXEC;
    source = PackedSource::Compressed(fd.fd(), error);
  }
  if (error) return error;
  out.clear();
  size_t have = 0;
  for (bool end = false; !end;) {
    if (have == out.size()) {
      if (out.size() > limit) return EFBIG;
      out.resize(std::min(std::max<size_t>(2 * out.size(), 1 << 16), limit + 1));
    }
    size_t got = 0;
    if (!source->Read(out.data() + have, out.size() - have, got, end, error)) return error;
    have += got;
  }
  out.resize(have);
  return have > limit ? EFBIG : 0;
}

}  // namespace vorn
