#include "ProgramSwap.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

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

namespace {

// A descriptor moved to 10 or above, close-on-exec: clear of the numbers the child is given.
Fd High(int fd) {
  const Fd low(fd);
  return Fd(::fcntl(low.fd(), F_DUPFD_CLOEXEC, 10));
}

// Appends what can be read now from fd to text (at most limit bytes kept); false at its end.
bool Drain(int fd, std::string& text, std::size_t limit) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer,
                  std::min(static_cast<std::size_t>(n), limit - std::min(limit, text.size())));
      continue;
    }
    if (n == 0) return false;
    return errno == EAGAIN || errno == EINTR;
  }
}

std::string LastLine(const std::string& text) {
  std::size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  const std::size_t start = text.find_last_of('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

}  // namespace

std::string RunUpdateHandshake(const std::string& path, const std::string& version, int timeLimitMs,
                               const std::function<bool()>& tick) {
  int answerEnds[2], errorEnds[2];
  if (::pipe2(answerEnds, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  Fd answerRead = High(answerEnds[0]), answerWrite = High(answerEnds[1]);
  if (::pipe2(errorEnds, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  Fd errorRead = High(errorEnds[0]), errorWrite = High(errorEnds[1]);
  if (!answerRead.ok() || !answerWrite.ok() || !errorRead.ok() || !errorWrite.ok())
    return std::string("no pipe: ") + std::strerror(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errorWrite.fd(), 2);
  posix_spawn_file_actions_adddup2(&actions, answerWrite.fd(), 3);
  const char* argv[] = {path.c_str(), kHandshakeOption, "3", nullptr};
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, path.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  answerWrite.Reset();
  errorWrite.Reset();
  if (spawned != 0) return std::strerror(spawned);
  for (const Fd* fd : {&answerRead, &errorRead})
    ::fcntl(fd->fd(), F_SETFL, ::fcntl(fd->fd(), F_GETFL) | O_NONBLOCK);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeLimitMs);
  std::string answer, errors, reason;
  int status = 0;
  bool ended = false;
  while (!ended) {
    pollfd p[2] = {{answerRead.fd(), POLLIN, 0}, {errorRead.fd(), POLLIN, 0}};
    ::poll(p, 2, kHandshakeSliceMs);
    Drain(answerRead.fd(), answer, 256);
    Drain(errorRead.fd(), errors, 16384);
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      ended = true;
      break;
    }
    if (Clock::now() >= end) {
      reason = "it did not answer within " + std::to_string(timeLimitMs / 1000) + " s";
    } else if (tick && !tick()) {
      reason = "the update was stopped";
    } else {
      continue;
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return reason;
  }
  // What the program still wrote as it ended.
  Drain(answerRead.fd(), answer, 256);
  Drain(errorRead.fd(), errors, 16384);
  const std::string expected = "ready " + version + "\n";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && answer == expected) return {};
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    return "it was ended by signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
  }
  if (std::string said = LastLine(errors); !said.empty()) return said;
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return "it ended with exit status " + std::to_string(WEXITSTATUS(status));
  if (answer.empty()) return "it gave no answer";
  return "it answered \"" + LastLine(answer) + "\" instead of \"ready " + version + "\"";
}

Fd HoldForSwap(const std::string& path) {
  Fd held(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (held.ok() && ::flock(held.fd(), LOCK_SH | LOCK_NB) != 0) held.Reset();
  return held;
}

bool RemoveStrandedOldProgram(const std::string& name, const std::string& path) {
  struct stat kept {
  }, program{}, running{};
  if (::lstat(name.c_str(), &kept) != 0) return false;
  const bool isProgram = ::stat(path.c_str(), &program) == 0 && kept.st_dev == program.st_dev &&
                         kept.st_ino == program.st_ino;
  // The running program moved aside by its own swap, the new one not yet proven: it stays.
  if (!isProgram && ::stat("/proc/self/exe", &running) == 0 && kept.st_dev == running.st_dev &&
      kept.st_ino == running.st_ino)
    return false;
  if (S_ISREG(kept.st_mode)) {
    // An update of another copy of the program that is still at it holds the file.
    const Fd probe(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (probe.ok() && ::flock(probe.fd(), LOCK_EX | LOCK_NB) != 0) return false;
  } else if (!S_ISLNK(kept.st_mode)) {
    return false;  // a folder or a device is nobody's backup; it is not removed either
  }
  return ::unlink(name.c_str()) == 0;
}

int StartProgramFile(const std::string& path) { return StartDetached({path}, false); }

}  // namespace vorn
