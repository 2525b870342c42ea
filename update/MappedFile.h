// A read-only view of a whole regular file through mmap: the bytes of a large download are
// looked at without a copy on the heap. The view stays valid while the object lives.
#pragma once

#include <cstddef>
#include <string_view>

namespace vorn {

class MappedFile {
 public:
  // Maps the file open at fd (which stays the caller's). An empty file, or one that cannot be
  // mapped or is not a regular file, gives no view (ok() is false).
  explicit MappedFile(int fd);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool ok() const { return data_ != nullptr; }
  std::string_view Bytes() const { return {static_cast<const char*>(data_), size_}; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vorn
