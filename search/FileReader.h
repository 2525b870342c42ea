// Reads one regular file as blocks of whole lines, so a file of any size is searched with
// memory bounded by the block size and the longest line. Small files come in one block.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorn {

class FileReader {
 public:
  explicit FileReader(size_t blockSize = size_t{1} << 20);
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  FileReader(FileReader&& other) noexcept { *this = std::move(other); }
  FileReader& operator=(FileReader&& other) noexcept;

  void SetBlockSize(size_t bytes) { blockSize_ = bytes; }

  // Opens a regular file (or a link to one) for reading; FIFOs, devices and the like are
  // refused without blocking. Closes the file opened before.
  bool Open(const std::string& path) { return OpenAt(-100 /* AT_FDCWD */, path.c_str()); }
  // The same, with name taken relative to the open directory dirFd.
  bool OpenAt(int dirFd, const char* name);
  void Close();

  // The next block: whole lines, the last of the file possibly without its break. False at
  // the end of the file or after a read error (then Failed() is true).
  bool NextBlock(std::string_view& block);
  bool Failed() const { return failed_; }
  // True once the last block has been handed out.
  bool AtEnd() const { return eof_ && consumed_ == fill_; }

  // Number of lines of the whole open file, counted without disturbing NextBlock.
  size_t CountLines();

 private:
  bool ReadMore();

  int fd_ = -1;
  long long expectedSize_ = 0;
  long long totalRead_ = 0;
  std::vector<char> buffer_;
  size_t fill_ = 0;      // bytes in buffer_
  size_t consumed_ = 0;  // bytes already handed out as blocks
  bool eof_ = false;
  bool failed_ = false;
  bool wholeFileInBuffer_ = false;
  size_t blockSize_ = size_t{1} << 20;
};

}  // namespace vorn
