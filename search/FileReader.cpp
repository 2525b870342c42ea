#include "FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "LineBreaks.h"
#include "io.h"

namespace vorn {

namespace {
std::atomic<ReadWatcher> readWatcher{nullptr};
}  // namespace

ReadWatcher SetReadWatcher(ReadWatcher watcher) { return readWatcher.exchange(watcher); }

FileReader::FileReader(size_t blockSize) : blockSize_(blockSize) {}

void FileReader::Close() {
  fd_.Reset();
  compressed_.reset();
  source_ = nullptr;
}

static_assert(AT_FDCWD == -100);

void FileReader::Reset() {
  fill_ = consumed_ = 0;
  totalRead_ = 0;
  eof_ = failed_ = wholeFileInBuffer_ = partial_ = false;
  error_ = 0;
  carried_ = 0;
  marked_ = false;
  markLength_ = 0;
  produced_ = 0;
  atHead_ = true;
  headNul_.reset();
  binary_ = false;
  decoder_.reset();
  charset_.reset();
  mayWait_ = waiting_ = false;
  rawAt_ = rawFill_ = 0;
  rawEof_ = false;
  sourceChecked_ = false;
  pendingError_ = 0;
}

bool FileReader::Open(const std::string& path) {
  if (NamesMember(path) && (OpenMember(path) || error_ != 0)) return source_ != nullptr;
  return OpenAt(AT_FDCWD, path.c_str());
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

// The archive of the member before is kept open: its members come in order in a list, so the
// next one is found by reading on, not by reading the archive again from its start.
bool FileReader::OpenMember(const std::string& path) {
  Close();
  Reset();
  std::string archive, member;
  if (!SplitMember(path, archive, member)) return false;
  struct stat now {
  }, then{};
  const bool reuse = archive_ && archivePath_ == archive && stat(archive.c_str(), &now) == 0 &&
                     fstat(archiveFd_.fd(), &then) == 0 && SameFile(now, then);
  int error = reuse ? archive_->SeekMember(member) : ENOENT;
  if (error == ENOENT) {
    archive_.reset();
    archivePath_.clear();
    int fd;
    int tries = 0;
    do fd = open(archive.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (ShortOfDescriptors(fd, tries));
    archiveFd_.Reset(fd);
    if (!archiveFd_.ok()) {
      error_ = errno;
      return false;
    }
    archive_ = PackedSource::Archive(archiveFd_.fd(), error);
    if (archive_) error = archive_->SeekMember(member);
  }
  if (error != 0) {
    archive_.reset();
    archiveFd_.Reset();
    error_ = error;
    return false;
  }
  archivePath_ = archive;
  source_ = archive_.get();
  sourceChecked_ = true;  // one level deep: a compressed member is searched as its bytes
  expectedSize_ = 0;
  UseBlockBuffer();
  return true;
}

// A source read block by block takes the buffer of the block size: the spare when that is the
// one, else the buffer is made that size.
void FileReader::UseBlockBuffer() {
  if (buffer_.size() == blockSize_) return;
  std::swap(buffer_, other_);
  if (buffer_.size() != blockSize_) {
    buffer_.resize(blockSize_);
    buffer_.shrink_to_fit();
  }
}

void FileReader::OpenHeld(std::string&& content) {
  Close();
  Reset();
  compressed_ = PackedSource::Held(std::move(content));
  source_ = compressed_.get();
  sourceChecked_ = true;  // one level deep, as a member read from its archive
  expectedSize_ = 0;
  UseBlockBuffer();
}

bool FileReader::OpenAt(int dirFd, const char* name) {
  Close();
  Reset();
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  int fd;
  int tries = 0;
  do fd = openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  while (ShortOfDescriptors(fd, tries));
  fd_.Reset(fd);
  if (!fd_.ok()) {
    error_ = errno;
    return false;
  }
  struct stat st;
  if (fstat(fd_.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return false;
  }
  expectedSize_ = st.st_size;
  // A small file is read into a small buffer, which stays in the processor's cache from one
  // file to the next. Both are kept, so files of mixed sizes cost no allocations; a buffer a
  // long line grew goes back to its size.
  const size_t small = std::min(kSmallBuffer, blockSize_);
  const size_t want = st.st_size < static_cast<off_t>(small) ? small : blockSize_;
  if (buffer_.size() != want) {
    std::swap(buffer_, other_);
    if (buffer_.size() != want) {
      buffer_.resize(want);
      buffer_.shrink_to_fit();
    }
  }
  return true;
}

// One read of the file into at; false (and the reader failed, with the system's error) when
// it fails. A file read up to the size it had when opened is taken as complete: no extra
// read call.
bool FileReader::ReadFile(char* at, size_t room, size_t& got, bool& end) {
  if (source_) {
    // Content that breaks off (a damaged or cut archive, a bomb) ends there; the failure is
    // told once the content before it is out.
    int error = 0;
    if (!source_->Read(at, room, got, end, error)) {
      pendingError_ = error;
      end = true;
    }
    totalRead_ += static_cast<long long>(got);
    return true;
  }
  ssize_t n;
  do {
    n = read(fd_.fd(), at, room);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    failed_ = true;
    error_ = errno;
    return false;
  }
  got = static_cast<size_t>(n);
  totalRead_ += n;
  if (const ReadWatcher watcher = readWatcher.load(std::memory_order_relaxed)) watcher(got);
  if (n == 0 || (expectedSize_ > 0 && totalRead_ >= expectedSize_)) end = true;
  return true;
}

bool FileReader::ReadMore() {
  if (decoder_ || charset_) return DecodeMore();
  size_t got = 0;
  if (!ReadFile(buffer_.data() + fill_, buffer_.size() - fill_, got, eof_)) return false;
  fill_ += got;
  produced_ += static_cast<long long>(got);
  if (!marked_) {
    if (packed_ && !sourceChecked_) {
      sourceChecked_ = true;
      if (IsCompressedHead(std::string_view(buffer_.data(), fill_)) && !OpenCompressed())
        return false;
    }
    if (source_) {
      // A stream gives its content in pieces: the head is gathered before anything decides.
      if (buffer_.size() < kBinaryHead) buffer_.resize(kBinaryHead);
      const size_t head = kBinaryHead;
      while (!eof_ && fill_ < head) {
        if (!ReadFile(buffer_.data() + fill_, head - fill_, got, eof_)) return false;
        fill_ += got;
        produced_ += static_cast<long long>(got);
      }
      headNul_ = std::memchr(buffer_.data(), 0, std::min(fill_, kBinaryHead)) != nullptr;
    }
    TakeMark();
    if (decoder_ || charset_) return DecodeMore();
  }
  return true;
}

// The file's bytes are compressed: from here on its content is read instead.
bool FileReader::OpenCompressed() {
  int error = 0;
  compressed_ = PackedSource::Compressed(fd_.fd(), error);
  if (!compressed_) {
    failed_ = true;
    error_ = error;
    return false;
  }
  source_ = compressed_.get();
  fill_ = 0;
  produced_ = 0;
  totalRead_ = 0;
  eof_ = false;
  size_t got = 0;
  if (!ReadFile(buffer_.data(), buffer_.size(), got, eof_)) return false;
  fill_ = got;
  produced_ = static_cast<long long>(got);
  return true;
}

// Looks at the file's first bytes, before any block is out: a UTF-8 mark is dropped, and a
// UTF-16 mark has the rest of the file decoded.
void FileReader::TakeMark() {
  const std::string_view head(buffer_.data(), fill_);
  // Two bytes decide, three for a UTF-8 mark; the first read nearly always holds them.
  if (!eof_ && (head == "\xEF" || head == "\xEF\xBB" || head == "\xFF" || head == "\xFE")) return;
  marked_ = true;
  const TextMark mark = MarkAt(head);
  markLength_ = MarkLength(mark);
  if (mark == TextMark::None) {
    // Without a mark, the head tells UTF-8 (the bytes as they are) from a legacy encoding.
    if (encoding_ == kEncodingUtf8) return;
    // Content that comes through a decompressor cannot be read again from its start.
    if (mayWait_ && encoding_ == kEncodingAuto && !source_) {
      waiting_ = true;
      return;
    }
    // The head decides whatever the buffer's size: a small one reads it aside.
    std::string aside;
    std::string_view decides = head;
    if (!eof_ && !source_ && fill_ < kEncodingHead) {
      aside.resize(kEncodingHead);
      const ssize_t n = pread(fd_.fd(), aside.data(), aside.size(), 0);
      aside.resize(n > 0 ? static_cast<size_t>(n) : 0);
      decides = aside;
    }
    const std::string name = EncodingForHead(
        decides, eof_ || static_cast<long long>(decides.size()) >= expectedSize_, encoding_);
    if (name.empty()) return;
    charset_ = std::make_unique<CharsetDecoder>(name);
  } else {
    std::memmove(buffer_.data(), buffer_.data() + markLength_, fill_ - markLength_);
    fill_ -= markLength_;
    produced_ -= static_cast<long long>(markLength_);
    if (mark == TextMark::Utf8) return;
    decoder_.emplace(mark == TextMark::Utf16BE);
  }
  StartDecoding();
}

// The bytes read so far become the first raw bytes to decode.
void FileReader::StartDecoding() {
  if (raw_.size() < buffer_.size()) {
    raw_.resize(buffer_.size());
    raw_.shrink_to_fit();
  }
  std::memcpy(raw_.data(), buffer_.data(), fill_);
  rawAt_ = 0;
  rawFill_ = fill_;
  rawEof_ = eof_;
  eof_ = false;
  fill_ = 0;
  produced_ = 0;
}

bool FileReader::SettleEncoding() {
  if (!waiting_) return false;
  waiting_ = false;
  // The head as the first read would have seen it: in the buffer, or read aside.
  std::string aside;
  std::string_view head(buffer_.data(), fill_);
  bool complete = eof_;
  if (!atHead_ || (!eof_ && fill_ < kEncodingHead)) {
    aside.resize(kEncodingHead);
    const ssize_t n = pread(fd_.fd(), aside.data(), aside.size(), 0);
    aside.resize(n > 0 ? static_cast<size_t>(n) : 0);
    head = aside;
    complete = static_cast<long long>(head.size()) >= expectedSize_;
  }
  const std::string name = EncodingForHead(head, complete, encoding_);
  if (name.empty()) return false;
  // Again from the start, the raw bytes decoded from the first on.
  if (lseek(fd_.fd(), 0, SEEK_SET) != 0) {
    failed_ = true;
    error_ = errno;
    return true;
  }
  charset_ = std::make_unique<CharsetDecoder>(name);
  fill_ = consumed_ = 0;
  totalRead_ = produced_ = 0;
  eof_ = wholeFileInBuffer_ = partial_ = false;
  carried_ = 0;
  atHead_ = true;
  headNul_.reset();
  binary_ = false;
  StartDecoding();
  return true;
}

// Decodes raw bytes into the buffer, reading more as needed; adds at least one byte unless
// the text is over or the buffer is full.
bool FileReader::DecodeMore() {
  for (;;) {
    if (rawAt_ == rawFill_ && !rawEof_) {
      if (!ReadFile(raw_.data(), raw_.size(), rawFill_, rawEof_)) return false;
      rawAt_ = 0;
    }
    size_t used = 0;
    const std::string_view in(raw_.data() + rawAt_, rawFill_ - rawAt_);
    char* const out = buffer_.data() + fill_;
    const size_t room = buffer_.size() - fill_;
    const size_t made = decoder_ ? decoder_->Decode(in, out, room, used, rawEof_)
                                 : charset_->Decode(in, out, room, used, rawEof_);
    rawAt_ += used;
    fill_ += made;
    produced_ += static_cast<long long>(made);
    if (rawEof_ && rawAt_ == rawFill_ && (decoder_ ? decoder_->Idle() : charset_->Idle()))
      eof_ = true;
    if (made > 0 || eof_ || fill_ == buffer_.size()) return true;
  }
}

bool FileReader::BinaryAt(std::string_view hitLine, bool nul) {
  if (!binary_ && !Utf16())
    binary_ = nul || HeadHasNul() ||
              (!hitLine.empty() && std::memchr(hitLine.data(), 0, hitLine.size()) != nullptr);
  return binary_;
}

bool FileReader::HeadHasNul() {
  if (decoder_ || charset_) return false;
  if (!headNul_) {
    const size_t want = kBinaryHead - markLength_;
    if (atHead_ && (eof_ || fill_ >= want)) {
      headNul_ = std::memchr(buffer_.data(), 0, std::min(fill_, want)) != nullptr;
    } else {
      // The head has left the buffer (or is not all read yet): read it aside.
      std::vector<char> head(kBinaryHead);
      size_t have = 0;
      while (have < head.size()) {
        const ssize_t n =
            pread(fd_.fd(), head.data() + have, head.size() - have, static_cast<off_t>(have));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
      }
      headNul_ = std::memchr(head.data(), 0, have) != nullptr;
    }
  }
  return *headNul_;
}

bool FileReader::NextBlock(std::string_view& block) {
  if ((!fd_.ok() && !source_) || failed_) return false;
  carried_ = 0;
  if (consumed_ > 0) {
    // After a piece of a long line its end stays in front, for queries that span the cut.
    const size_t keep = partial_ ? std::min(overlap_, consumed_) : 0;
    std::memmove(buffer_.data(), buffer_.data() + consumed_ - keep, fill_ - consumed_ + keep);
    fill_ = fill_ - consumed_ + keep;
    carried_ = keep;
    consumed_ = 0;
    atHead_ = false;
    wholeFileInBuffer_ = false;  // lines handed out are gone: CountLines reads the file again
  }
  partial_ = false;
  const size_t capacity = std::max(blockSize_, 2 * overlap_ + 64);
  size_t scanned = carried_;  // no usable break before this offset
  for (;;) {
    if (eof_) {
      if (produced_ == static_cast<long long>(fill_)) wholeFileInBuffer_ = true;
      // After the piece of a long line this may hold only the carried bytes: the file ends
      // with that line, and a query at its very end is seen there.
      if (fill_ == 0) {
        if (pendingError_ != 0) {
          failed_ = true;
          error_ = pendingError_;
        }
        return false;
      }
      block = std::string_view(buffer_.data(), fill_);
      consumed_ = fill_;
      return true;
    }
    const size_t before = fill_;
    if (fill_ == buffer_.size()) {
      if (wholeLines_ || buffer_.size() < capacity) {
        buffer_.resize(std::max<size_t>(
            wholeLines_ ? 2 * buffer_.size() : std::min(capacity, 2 * buffer_.size()), 64));
      } else {
        // A line longer than the buffer: hand out a piece of it, keeping a CR that may begin
        // a CR LF pair.
        size_t cut = fill_;
        if (buffer_[cut - 1] == '\r') --cut;
        partial_ = true;
        consumed_ = cut;
        block = std::string_view(buffer_.data(), cut);
        return true;
      }
    }
    if (!ReadMore()) return false;
    if (eof_) continue;
    // Cut after the last break; a CR at the very end may be the first half of CR LF.
    const char* begin = buffer_.data();
    const char* last = FindLastBreak(begin + scanned, begin + fill_);
    if (last && last == begin + fill_ - 1 && *last == '\r')
      last = FindLastBreak(begin + scanned, last);
    if (last) {
      consumed_ = static_cast<size_t>(last - begin) + 1;
      block = std::string_view(begin, consumed_);
      return true;
    }
    scanned = before > carried_ ? before - 1 : carried_;
  }
}

std::optional<size_t> FileReader::CountLines(const std::atomic<bool>* cancel) {
  if (wholeFileInBuffer_) return LineCount(std::string_view(buffer_.data(), fill_));
  // Content that comes through a decompressor is not read a second time for a count.
  if (source_) return std::nullopt;
  // Sized to the file: a status asks for the lines of many small files.
  const long long fits = std::max(expectedSize_ + 1, 4096ll);
  Buffer chunk(static_cast<size_t>(std::min(fits, 1ll << 20)));
  // A mark belongs to no line, and a UTF-16 file's lines are those of its text, as a legacy
  // encoding's are. A reader that has not read the file yet looks at its head here.
  TextMark mark = decoder_ ? (decoder_->BigEndian() ? TextMark::Utf16BE : TextMark::Utf16LE)
                           : (markLength_ > 0 ? TextMark::Utf8 : TextMark::None);
  std::string encoding = Encoding();
  if (!marked_) {
    std::string head(kEncodingHead, '\0');
    const ssize_t n = pread(fd_.fd(), head.data(), head.size(), 0);
    head.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (packed_ && IsCompressedHead(head)) return std::nullopt;
    mark = MarkAt(head);
    if (mark == TextMark::None)
      encoding =
          EncodingForHead(head, static_cast<long long>(head.size()) >= expectedSize_, encoding_);
  }
  std::optional<Utf16Decoder> decoder;
  std::unique_ptr<CharsetDecoder> charset;
  Buffer text;
  if (mark == TextMark::Utf16LE || mark == TextMark::Utf16BE) {
    decoder.emplace(mark == TextMark::Utf16BE);
    text.resize(2 * chunk.size() + 16);
  } else if (!encoding.empty()) {
    charset = std::make_unique<CharsetDecoder>(encoding);
    text.resize(2 * chunk.size() + 16);
  }
  size_t breaks = 0;
  off_t offset = static_cast<off_t>(MarkLength(mark));
  bool any = false;
  char previous = 0;
  const auto count = [&](const char* b, size_t length) {
    if (length == 0) return;
    breaks += CountBreaks(b, b + length);
    if (previous == '\r' && b[0] == '\n') --breaks;  // CR LF split between two chunks
    previous = b[length - 1];
    any = true;
  };
  for (;;) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return std::nullopt;
    const ssize_t n = pread(fd_.fd(), chunk.data(), chunk.size(), offset);
    const bool last = n <= 0;
    const std::string_view in(chunk.data(), last ? 0 : static_cast<size_t>(n));
    if (decoder) {
      size_t used = 0;
      count(text.data(), decoder->Decode(in, text.data(), text.size(), used, last));
    } else if (charset) {
      size_t at = 0;
      do {
        size_t used = 0;
        count(text.data(), charset->Decode(in.substr(at), text.data(), text.size(), used, last));
        at += used;
      } while (at < in.size() || (last && !charset->Idle()));
    } else {
      count(in.data(), in.size());
    }
    if (last) break;
    offset += n;
  }
  return breaks + ((any && !IsBreakByte(previous)) ? 1 : 0);
}

bool FolderCache::Open(FileReader& reader, const std::string& path) {
  if (reader.NamesMember(path)) {
    if (reader.OpenMember(path)) return true;
    if (reader.Error() != 0) return false;
  }
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return reader.Open(path);
  const std::string_view folder(path.data(), slash + 1);
  if (!fd_.ok() || folder_ != folder) {
    Close();
    int fd;
    int tries = 0;
    do fd = OpenFolder(std::string(folder), O_PATH);
    while (ShortOfDescriptors(fd, tries));
    fd_.Reset(fd);
    if (!fd_.ok()) {
      reader.Close();
      reader.SetError(errno);
      return false;
    }
    folder_.assign(folder);
  }
  return reader.OpenAt(fd_.fd(), path.c_str() + slash + 1);
}

void FolderCache::Close() {
  fd_.Reset();
  folder_.clear();
}

}  // namespace vorn
