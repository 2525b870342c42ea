// Reads one regular file as blocks of whole lines, so a file of any size is searched with
// memory bounded by the block size. Small files come in one block. A line longer than the
// buffer comes in pieces: such a block is Partial(), and the block after it begins with the
// last Carried() bytes of the piece before, so a query that spans the cut is still seen.
// The blocks hold the file's text: a UTF-16 file with a byte-order mark comes decoded to
// UTF-8, and a UTF-8 mark at the start is left out, so it belongs to no line. A file in a
// legacy encoding comes decoded to UTF-8 as the encoding setting says (TextDecoding.h), and
// with packed files on, a compressed file comes as its content and a path ARCHIVE//MEMBER
// opens the member (Packed.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Fd.h"
#include "Packed.h"
#include "TextDecoding.h"
#include "Utf16Text.h"

namespace vorn {

// Storage aligned to a cache line. The kernel copies file data much faster into a buffer that
// is aligned the way its page cache is: a plain heap block is only 16-byte aligned, and a
// large one that the allocator maps separately starts 16 bytes into its first page.
template <typename T>
struct LineAligned {
  using value_type = T;
  static constexpr std::align_val_t kAlign{64};
  LineAligned() = default;
  template <typename U>
  LineAligned(const LineAligned<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlign)); }
  void deallocate(T* p, size_t) { ::operator delete(p, kAlign); }
  bool operator==(const LineAligned&) const = default;
};

class FileReader {
 public:
  explicit FileReader(size_t blockSize = size_t{1} << 20);
  FileReader(FileReader&&) noexcept = default;
  FileReader& operator=(FileReader&&) noexcept = default;

  void SetBlockSize(size_t bytes) { blockSize_ = bytes; }
  // Bytes repeated at the start of the block after a piece of a long line.
  void SetOverlap(size_t bytes) { overlap_ = bytes; }
  size_t Overlap() const { return overlap_; }
  // Whole lines whatever their length: the buffer grows as a line needs.
  void SetWholeLines(bool on) { wholeLines_ = on; }
  // How files without a byte-order mark are decoded (kEncodingAuto, kEncodingUtf8 or a name),
  // and whether compressed files and archive members are read as their content; both count
  // from the next Open.
  void SetEncoding(std::string_view setting) { encoding_ = setting; }
  void SetPacked(bool on) { packed_ = on; }
  // For the file just opened, in Automatic: a file without a mark is read as its bytes until
  // SettleEncoding, which its search calls at its first candidate. Most files have none, and
  // their heads are then never looked at.
  void LetEncodingWait() { mayWait_ = true; }
  // The file's encoding is still to be decided.
  bool EncodingWaits() const { return waiting_; }
  // Decides the encoding from the file's head; true when its text is to be decoded, and the
  // reader then starts again at the file's beginning.
  bool SettleEncoding();

  // Opens a regular file (or a link to one) for reading; FIFOs, devices and the like are
  // refused without blocking (Error() is then 0). Closes the file opened before. Short of
  // descriptors, it waits for other threads to close theirs rather than fail.
  bool Open(const std::string& path);
  // The same, with name taken relative to the open directory dirFd.
  bool OpenAt(int dirFd, const char* name);
  void Close();

  // The next block: whole lines, the last of the file possibly without its break. False at
  // the end of the file or after a read error (then Failed() is true).
  bool NextBlock(std::string_view& block);
  bool Failed() const { return failed_; }
  // The system's error number of the last failed open or read, 0 when there was none.
  int Error() const { return error_; }
  void SetError(int error) { error_ = error; }
  // True once the last block has been handed out.
  bool AtEnd() const { return eof_ && consumed_ == fill_; }
  // The last block ends inside a line that goes on in the next block.
  bool Partial() const { return partial_; }
  // Bytes at the start of the last block that repeat the end of the piece before it.
  size_t Carried() const { return carried_; }
  long long Size() const { return expectedSize_; }
  // The open file is UTF-16 with a mark; known once the first block is out.
  bool Utf16() const { return decoder_.has_value(); }
  // The encoding the open file is decoded from, empty for UTF-8 and UTF-16 with a mark; known
  // once the first block is out.
  std::string Encoding() const { return charset_ ? charset_->Name() : std::string(); }
  // With packed files on: path names an archive member (opened by OpenMember, not OpenAt).
  bool NamesMember(std::string_view path) const {
    return packed_ && path.find(kMemberMark) != std::string_view::npos;
  }
  // Opens the member that path names; false (with Error() set) when it cannot, or when path
  // names none (Error() then 0, and the caller opens path as a file).
  bool OpenMember(const std::string& path);
  // Opens a member whose content was read before (FileFeed::Hold).
  void OpenHeld(std::string&& content);

  // Whether the file's first kBinaryHead bytes hold a NUL byte (never for UTF-16 text).
  // Asked once a block is out; the answer is kept for the file.
  static constexpr size_t kBinaryHead = size_t{64} << 10;
  bool HeadHasNul();
  // Whether the file is binary, asked at a hit line (nul: a NUL byte is known in it): its head
  // or a hit line so far holds a NUL byte. Kept for the file from then on; UTF-16 text never is.
  bool BinaryAt(std::string_view hitLine, bool nul = false);

  // Number of lines of the whole open file, counted without disturbing NextBlock; nullopt when
  // cancel was set meanwhile.
  std::optional<size_t> CountLines(const std::atomic<bool>* cancel = nullptr);

 private:
  bool ReadFile(char* at, size_t room, size_t& got, bool& end);
  bool ReadMore();
  bool DecodeMore();
  void TakeMark();
  bool OpenCompressed();
  void Reset();
  void UseBlockBuffer();

  Fd fd_;
  long long expectedSize_ = 0;
  long long totalRead_ = 0;
  static constexpr size_t kSmallBuffer = size_t{64} << 10;
  using Buffer = std::vector<char, LineAligned<char>>;
  Buffer buffer_;
  Buffer other_;         // the buffer for files of the other size
  size_t fill_ = 0;      // bytes in buffer_
  size_t consumed_ = 0;  // bytes already handed out as blocks
  bool eof_ = false;
  bool failed_ = false;
  int error_ = 0;
  bool wholeFileInBuffer_ = false;
  bool partial_ = false;
  size_t carried_ = 0;
  size_t overlap_ = 0;
  bool wholeLines_ = false;
  size_t blockSize_ = size_t{1} << 20;
  // What the file begins with: decided at its first read.
  bool marked_ = false;
  size_t markLength_ = 0;
  long long produced_ = 0;  // bytes of text put into the buffer since the file was opened
  bool atHead_ = true;      // the buffer begins with the text's first byte
  std::optional<bool> headNul_;
  bool binary_ = false;
  // A UTF-16 file: its bytes are read into raw_ and decoded into the buffer.
  std::optional<Utf16Decoder> decoder_;
  Buffer raw_;
  size_t rawAt_ = 0, rawFill_ = 0;
  bool rawEof_ = false;
  // A file in a legacy encoding: decoded from raw_ as a UTF-16 file is.
  std::string encoding_;
  std::unique_ptr<CharsetDecoder> charset_;
  bool mayWait_ = false;
  bool waiting_ = false;
  void StartDecoding();
  // Packed files: the content comes from source_ (a compressed file's, or the member's of the
  // archive kept open for the members after it), not from fd_.
  bool packed_ = false;
  bool sourceChecked_ = false;
  int pendingError_ = 0;  // the content broke off: what came before is handed out first
  PackedSource* source_ = nullptr;
  std::unique_ptr<PackedSource> compressed_;
  std::unique_ptr<PackedSource> archive_;
  Fd archiveFd_;
  std::string archivePath_;
};

// Tests watch how far searches read: the watcher hears of every read of a file's bytes in
// order, with their count, on the thread that read them. Returns the one it replaced (none:
// null, the default).
using ReadWatcher = void (*)(size_t bytes);
ReadWatcher SetReadWatcher(ReadWatcher watcher);

// Opens files by their full paths, keeping the folder of the last one open: the files of one
// folder stand together in a list, and opening each within the open folder spares the kernel
// walking the whole path again. Paths too long for one system call are opened too.
class FolderCache {
 public:
  bool Open(FileReader& reader, const std::string& path);
  void Close();

 private:
  std::string folder_;
  Fd fd_;
};

}  // namespace vorn
