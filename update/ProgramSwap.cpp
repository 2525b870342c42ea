#include "ProgramSwap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace vorn {

namespace {

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

// Reads exactly one int or sees the pipe closed; false when closed without one.
bool ReadInt(int fd, int& value) {
  for (;;) {
    const ssize_t n = ::read(fd, &value, sizeof value);
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(sizeof value);
  }
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link refuses an existing target just the same.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

bool RunSwapStep(SwapStep step, const std::string& from, const std::string& to) {
  switch (step) {
    case SwapStep::SyncDownload: {
      // The download becomes a program: it keeps the program file's permission bits, so it
      // stays executable.
      struct stat info {};
      if (::stat(to.c_str(), &info) == 0 && ::chmod(from.c_str(), info.st_mode & 0777) != 0) {
        return false;
      }
      return SyncPath(from, O_RDONLY);
    }
    case SwapStep::KeepOld:
      return ::link(from.c_str(), to.c_str()) == 0;
    case SwapStep::Replace:
      return ::rename(from.c_str(), to.c_str()) == 0;
    case SwapStep::SyncFolder:
      return SyncPath(from, O_RDONLY | O_DIRECTORY);
    case SwapStep::Fallback:
      return RenameNoReplace(from, to);
  }
  return false;
}

int StartProgramFile(const std::string& path) {
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  // The grandchild reports a failed exec through this pipe; a successful one closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return errno;
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return error;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execv(path.c_str(), argv);  // unlike execvp, never retried through /bin/sh
      const int error = errno;
      (void)!::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    if (grandchild < 0) {
      const int error = errno;
      (void)!::write(report[1], &error, sizeof error);
    }
    ::_exit(0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  if (!ReadInt(report[0], error)) error = 0;
  ::close(report[0]);
  return error;
}

}  // namespace vorn
