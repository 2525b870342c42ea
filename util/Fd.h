// The one owner of a file descriptor: closes it on every way out, moves but never copies.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vorn {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  // Keeps errno: an owner closing on the way out must not change the error being reported.
  void Reset(int fd = -1) {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace vorn
