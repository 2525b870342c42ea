#include "ProgramSwap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Fd.h"
#include "io.h"

namespace vorn {

namespace {

bool SyncPath(const std::string& path, int flags) {
  const Fd fd(::open(path.c_str(), flags | O_CLOEXEC));
  return fd.ok() && ::fsync(fd.fd()) == 0;
}

// Renames a file without ever replacing one: false when the target exists or the system
// refuses.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link refuses an existing target just the same.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace

bool IsSameFile(const std::string& path, int fd) {
  struct stat named {
  }, open{};
  return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool RemoveSecondLink(const std::string& name, const std::string& path) {
  struct stat kept {
  }, program{};
  if (::lstat(name.c_str(), &kept) != 0 || ::stat(path.c_str(), &program) != 0) return false;
  if (kept.st_dev != program.st_dev || kept.st_ino != program.st_ino) return false;
  return ::unlink(name.c_str()) == 0;
}

bool RunSwapStep(SwapStep step, const std::string& from, const std::string& to, int download) {
  switch (step) {
    case SwapStep::SyncDownload: {
      // The download becomes a program: it keeps the program file's permission bits, so it
      // stays executable.
      struct stat info {};
      if (::stat(to.c_str(), &info) == 0 && ::fchmod(download, info.st_mode & 0777) != 0) {
        return false;
      }
      return ::fsync(download) == 0;
    }
    case SwapStep::KeepOld:
      return ::link(from.c_str(), to.c_str()) == 0;
    case SwapStep::Replace:
      // A name swapped for a link or another file since the download was made is not renamed.
      if (!IsSameFile(from, download)) {
        errno = ESTALE;
        return false;
      }
      if (::rename(from.c_str(), to.c_str()) != 0) return false;
      if (IsSameFile(to, download)) return true;
      errno = ESTALE;
      return false;
    case SwapStep::SyncFolder:
      return SyncPath(from, O_RDONLY | O_DIRECTORY);
    case SwapStep::Restore:
      return ::rename(from.c_str(), to.c_str()) == 0;
    case SwapStep::Fallback:
      if (!IsSameFile(from, download)) {
        errno = ESTALE;
        return false;
      }
      return RenameNoReplace(from, to);
  }
  return false;
}

int StartProgramFile(const std::string& path) { return StartDetached({path}, false); }

}  // namespace vorn
