#include "MappedFile.h"

#include <sys/mman.h>
#include <sys/stat.h>

namespace vorn {

MappedFile::MappedFile(int fd) {
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return;
  void* data =
      ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) return;
  data_ = data;
  size_ = static_cast<std::size_t>(info.st_size);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

}  // namespace vorn
