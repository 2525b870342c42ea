// Compressed files and archives, read through libarchive: a file compressed with gzip, bzip2,
// xz, zstd or lz4 is searched as its content, and each member of a zip, tar (compressed or
// not), 7z or cpio archive as a file of its own, named "ARCHIVE//MEMBER". No real path can
// take that form: nothing follows a regular file's name after a "/". Content is streamed in
// bounded buffers; a member whose content grows far beyond the compressed bytes behind it (a
// decompression bomb) is given up with an error of its own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct archive;
struct archive_entry;

namespace vorn {

// What stands between an archive's path and a member's name.
inline constexpr std::string_view kMemberMark = "//";

// A member is given up once its content is past kExpansionFloor bytes and more than
// kExpansionRatio times the compressed bytes read for it.
constexpr long long kExpansionRatio = 1000;
constexpr long long kExpansionFloor = 16ll << 20;

// Error numbers of our own beside the system's, for FileError.
constexpr int kErrorExpandsTooMuch = 0x4000'0001;
constexpr int kErrorDamagedArchive = 0x4000'0002;
// The text for an error number: the system's, or one of ours.
std::string FileErrorText(int error);

// Whether the name is an archive's whose members are searched (.zip, .tar, .tar.gz, .tgz, .7z,
// .cpio and the like).
bool IsArchiveName(std::string_view path);
// Whether a file's first bytes are those of gzip, bzip2, xz, zstd or lz4 content.
bool IsCompressedHead(std::string_view head);

// Lists the regular-file members of the archive at path, in their order, to add (false from it
// stops the listing). Returns 0, or the error that cut the listing short (a damaged or
// truncated archive, one that expands too much, or one that cannot be read). A file that is
// not an archive at all gives ENOEXEC and nothing. goOn, asked between members and between
// the blocks of a member read through, stops the listing where it answers false.
// hold, where given, takes the content of the member add is to hear of next, where the
// listing had to decompress it to reach the next member (a compressed tar's, a 7z's) and it
// is at most kHeldMember bytes, so it need not be decompressed again for its search.
constexpr size_t kHeldMember = size_t{16} << 20;
int ListMembers(const std::string& path, const std::function<bool(std::string_view)>& add,
                const std::function<bool()>& goOn = {},
                const std::function<void(std::string&&)>& hold = {});

// A path of the form ARCHIVE//MEMBER, where ARCHIVE is a regular file, taken apart.
bool SplitMember(std::string_view path, std::string& archive, std::string& member);

// The content of a compressed file or of one archive member, read from a file descriptor that
// stays its caller's (through pread, so others may read it too).
class PackedSource {
 public:
  ~PackedSource();
  PackedSource(const PackedSource&) = delete;
  PackedSource& operator=(const PackedSource&) = delete;

  // A compressed file's content; error set on failure.
  static std::unique_ptr<PackedSource> Compressed(int fd, int& error);
  // An archive, before its first member.
  static std::unique_ptr<PackedSource> Archive(int fd, int& error);
  // Content decompressed before, served from memory.
  static std::unique_ptr<PackedSource> Held(std::string content);

  // Moves on to the next member named member (an archive only); ENOENT when the archive
  // holds none after the current place.
  int SeekMember(std::string_view member);
  // Every regular-file member's name, in order, to add (false from it stops); 0 or the error
  // that cut the listing short, ENOEXEC for a file that is no archive.
  int ListAll(const std::function<bool(std::string_view)>& add,
              const std::function<bool()>& goOn = {},
              const std::function<void(std::string&&)>& hold = {});
  // Reads content into at; false on an error (error set). end is set at the content's end.
  bool Read(char* at, size_t room, size_t& got, bool& end, int& error);
  int Fd() const { return fd_; }

  // libarchive's side: the raw bytes, read and sought by pread at an offset of our own.
  long long RawRead(const void** buffer);
  long long RawSeek(long long offset, int whence);

 private:
  explicit PackedSource(int fd);
  int Start(bool archive);
  // The next member's header (entry null at the archive's end); 0 or an error.
  int NextHeader(::archive_entry*& entry, const std::function<bool()>& goOn = {});
  // Reads through the rest of the current member, minding the expansion limit.
  int Drain(const std::function<bool()>& goOn);
  bool ExpandsTooMuch() const;
  bool ReadArchive(char* at, size_t room, size_t& got, bool& end, int& error);

  int fd_;
  ::archive* a_ = nullptr;
  off_t offset_ = 0;
  off_t size_ = 0;
  std::unique_ptr<char[]> buffer_;
  long long memberStart_ = 0;      // compressed bytes read when the member began
  long long content_ = 0;          // content bytes of the member so far
  bool inMember_ = false;          // a member's header has been read
  const char* blockAt_ = nullptr;  // the rest of the block decoded last
  size_t blockLeft_ = 0;
  long long hole_ = 0;  // NUL bytes of a sparse member's hole still to come
  std::string held_;    // a held source's content, and how much of it is read
  size_t heldAt_ = 0;
};

// Reads a compressed file's content or a member's (path of the form ARCHIVE//MEMBER) whole,
// at most limit bytes: 0, ENOEXEC when path is neither, EFBIG past the limit, or another
// error.
int ReadPackedWhole(const std::string& path, size_t limit, std::string& out);

}  // namespace vorn
