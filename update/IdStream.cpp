#include "IdStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn {

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Create ? O_TRUNC : 0);
  if (mode == Mode::CreateNew) flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags, mode == Mode::CreateNew ? 0600 : 0666);
  } while (fd < 0 && errno == EINTR);
  fd_.Reset(fd);
  if (!fd_.ok()) {
    throw EStreamError("Cannot create file \"" + path + "\". " + std::strerror(errno));
  }
  if (mode == Mode::Append) {
    const off_t end = ::lseek(fd_.fd(), 0, SEEK_END);
    if (end < 0) {
      const int e = errno;  // the descriptor closes as the failed construction unwinds
      throw EStreamError("Cannot open file \"" + path + "\". " + std::strerror(e));
    }
    position_ = end;
  }
}

void TFileStream::Write(std::string_view bytes) {
  if (!fd_.ok()) throw EStreamError("Stream write error");
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_.fd(), bytes.data(), bytes.size());
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
  // Closed here rather than by the owner, because a failed close can mean lost data.
  if (!fd_.ok()) return;
  const int rc = ::close(fd_.release());
  if (rc != 0 && errno != EINTR) {
    throw EStreamError("Stream write error: \"" + path_ + "\". " + std::strerror(errno));
  }
}

}  // namespace vorn
