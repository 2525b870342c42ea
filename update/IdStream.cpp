#include "IdStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn {

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Create ? O_TRUNC : 0);
  do {
    fd_ = ::open(path.c_str(), flags, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    throw EStreamError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  }
  if (mode == Mode::Append) {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
      const int e = errno;
      ::close(fd_);
      fd_ = -1;
      throw EStreamError("Cannot open file \"" + path + "\". " + std::strerror(e));
    }
    position_ = end;
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Write(std::string_view bytes) {
  if (fd_ < 0) throw EStreamError("Stream write error");
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      throw EStreamError("Stream write error: \"" + path_ + "\". " +
                         std::strerror(n < 0 ? errno : ENOSPC));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    position_ += n;
  }
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0 && errno != EINTR) {
    throw EStreamError("Stream write error: \"" + path_ + "\". " + std::strerror(errno));
  }
}

}  // namespace vorn
