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

FileReader::FileReader(size_t blockSize) : blockSize_(blockSize) {}

void FileReader::Close() { fd_.Reset(); }

static_assert(AT_FDCWD == -100);

bool FileReader::OpenAt(int dirFd, const char* name) {
  Close();
  fill_ = consumed_ = 0;
  totalRead_ = 0;
  eof_ = failed_ = wholeFileInBuffer_ = partial_ = false;
  error_ = 0;
  carried_ = 0;
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

bool FileReader::ReadMore() {
  ssize_t n;
  do {
    n = read(fd_.fd(), buffer_.data() + fill_, buffer_.size() - fill_);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    failed_ = true;
    error_ = errno;
    return false;
  }
  fill_ += static_cast<size_t>(n);
  totalRead_ += n;
  // A file read up to the size it had when opened is taken as complete: no extra read call.
  if (n == 0 || (expectedSize_ > 0 && totalRead_ >= expectedSize_)) eof_ = true;
  return true;
}

bool FileReader::NextBlock(std::string_view& block) {
  if (!fd_.ok() || failed_) return false;
  carried_ = 0;
  if (consumed_ > 0) {
    // After a piece of a long line its end stays in front, for queries that span the cut.
    const size_t keep = partial_ ? std::min(overlap_, consumed_) : 0;
    std::memmove(buffer_.data(), buffer_.data() + consumed_ - keep, fill_ - consumed_ + keep);
    fill_ = fill_ - consumed_ + keep;
    carried_ = keep;
    consumed_ = 0;
    wholeFileInBuffer_ = false;  // lines handed out are gone: CountLines reads the file again
  }
  partial_ = false;
  const size_t capacity = std::max(blockSize_, 2 * overlap_ + 64);
  size_t scanned = carried_;  // no usable break before this offset
  for (;;) {
    if (eof_) {
      if (totalRead_ == static_cast<long long>(fill_)) wholeFileInBuffer_ = true;
      // After the piece of a long line this may hold only the carried bytes: the file ends
      // with that line, and a query at its very end is seen there.
      if (fill_ == 0) return false;
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
  // Sized to the file: a status asks for the lines of many small files.
  const long long fits = std::max(expectedSize_ + 1, 4096ll);
  Buffer chunk(static_cast<size_t>(std::min(fits, 1ll << 20)));
  size_t breaks = 0;
  off_t offset = 0;
  char previous = 0;
  for (;;) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return std::nullopt;
    const ssize_t n = pread(fd_.fd(), chunk.data(), chunk.size(), offset);
    if (n <= 0) break;
    breaks += CountBreaks(chunk.data(), chunk.data() + n);
    if (previous == '\r' && chunk[0] == '\n') --breaks;  // CR LF split between two chunks
    previous = chunk[static_cast<size_t>(n) - 1];
    offset += n;
  }
  return breaks + ((offset > 0 && !IsBreakByte(previous)) ? 1 : 0);
}

bool FolderCache::Open(FileReader& reader, const std::string& path) {
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
