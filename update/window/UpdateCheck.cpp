#include "UpdateCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <limits>
#include <utility>

#include "ProbeHost.h"
#include "UpdateBoxes.h"
#include "ftper.h"
#include "io.h"

namespace vorn {

namespace {

std::optional<ProgramFile>& ProgramFileInPlace() {
  static std::optional<ProgramFile> file;
  return file;
}

Terminator& TerminatorInPlace() {
  static Terminator terminator;
  return terminator;
}

bool& Running() {
  static bool running = false;
  return running;
}

// Marks the check as running for its lifetime; as it ends, a "CLOSE" pressed meanwhile
// closes the connection.
class RunningCheck {
 public:
  explicit RunningCheck(TFTPWindow& window) : window_(window) { Running() = true; }
  ~RunningCheck() {
    Running() = false;
    try {
      window_.CloseIfPending();
    } catch (...) {
      // Closing reports and closes the socket; there is nothing left to tell the user.
    }
  }
  RunningCheck(const RunningCheck&) = delete;
  RunningCheck& operator=(const RunningCheck&) = delete;

 private:
  TFTPWindow& window_;
};

// The hourglass for the time of a transfer, restored also when the transfer fails.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

void Terminate() {
  if (TerminatorInPlace()) TerminatorInPlace()();
  else QCoreApplication::quit();
}

Renamer& RenamerInPlace() {
  static Renamer renamer;
  return renamer;
}

bool Rename(const std::string& from, const std::string& to) {
  return RenamerInPlace() ? RenamerInPlace()(from, to) : RenameNoReplace(from, to);
}

// The file's full size, or -1 when it is not a regular file.
std::int64_t FileSize(const std::string& path) {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

// The download becomes a program: it gets the program file's permission bits (so it stays
// executable) and its bytes are made durable before any name changes.
void PrepareAsProgram(const std::string& download, const std::string& program) {
  struct stat info{};
  if (::stat(program.c_str(), &info) == 0) ::chmod(download.c_str(), info.st_mode & 0777);
  const int fd = ::open(download.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// A byte count as a gauge value: a size beyond the gauge's range is held at its top, while -1
// (no size) stays -1 for the gauge to refuse.
int GaugeMaximum(std::int64_t size) {
  return static_cast<int>(std::min<std::int64_t>(size, std::numeric_limits<int>::max()));
}

// Moves the running program aside, puts the download in its place and restarts from it; when
// the program cannot be moved, the download goes to the fallback name and the user is told.
void InstallDownload(TFTPWindow& window, const ProgramFile& program, const std::string& download) {
  const std::string old = program.Directory + OldProgramName;
  const std::string fallback = program.Directory + RemoteFileName + "New.exe";
  PrepareAsProgram(download, program.Path);
  if (Rename(program.Path, old)) {
    if (Rename(download, program.Path)) {
      // Only now is the old program no longer needed.
      ::unlink(old.c_str());
      StartProgram({program.Path});
      Terminate();
      return;
    }
    // The program's place could not be filled: the program goes back there.
    Rename(old, program.Path);
  }
  Rename(download, fallback);
  const QString name = QString::fromLocal8Bit(RemoteFileName);
  Boxes().Notify(&window, QStringLiteral("New file is called") + name +
                              QStringLiteral("New.exe. Exit this version and Rename it to ") +
                              name);
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

Renamer SetRenamer(Renamer renamer) { return std::exchange(RenamerInPlace(), std::move(renamer)); }

ProgramFile UpdateProgramFile() {
  if (ProgramFileInPlace()) return *ProgramFileInPlace();
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return {path, path.substr(0, path.rfind('/') + 1)};
}

void SetUpdateProgramFile(std::optional<ProgramFile> file) { ProgramFileInPlace() = std::move(file); }

Terminator SetTerminator(Terminator terminator) {
  return std::exchange(TerminatorInPlace(), std::move(terminator));
}

bool UpdateCheckRunning() { return Running(); }

bool EnsureConnected(TFTPWindow& window) {
  if (window.IdFTP1.IsConnected()) return true;
  try {
    window.IdFTP1.OpenConnection(true);
    return true;
  } catch (...) {
    // The connection's status lines already tell what happened.
    return false;
  }
}

std::int32_t RemoteFileSize(TFTPWindow& window, const std::string& name, const std::string& dir,
                            bool clearLog) {
  if (clearLog) window.FtpRtf->clear();
  if (!EnsureConnected(window)) return -1;
  window.IdFTP1.ChangeWorkingDir(dir);
  const std::int64_t size = window.IdFTP1.QuerySize(name);
  if (size < 0) return -1;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

std::int64_t DownloadFile(TFTPWindow& window, const std::string& remoteName,
                          const std::string& localPath) {
  TIdFTP& ftp = window.IdFTP1;
  if (!ftp.IsConnected()) return -1;
  window.TransferredCount = 0;
  // The path comes from the server's own answer, not from the folder the check asked for.
  const std::string remotePath = ftp.QueryWorkingDir() + "/" + remoteName;
  window.Gauge1->SetProgress(0);
  const std::int64_t size = ftp.QuerySize(remotePath);
  window.Gauge1->SetMaxValue(GaugeMaximum(size));  // the gauge refuses -1 with its range error
  WaitCursor wait;
  ftp.Download(remotePath, localPath, true, false);
  return size;
}

void LookForUpdate(TFTPWindow& window) {
  // Taken before anything is moved: once the file is renamed, /proc/self/exe names the new name.
  const ProgramFile program = UpdateProgramFile();
  window.FtpRtf->clear();
  if (!ProbeSucceeded) return;
  const std::int32_t remote = RemoteFileSize(window, RemoteFileName, RemoteDir, false);
  const std::int32_t local = LocalFileSize(program.Path);
  if (remote == local || remote == -1) {
    window.FtpRtf->clear();
    window.Add(QStringLiteral("Your version is the newest"));
    return;
  }

  const std::string download = program.Directory + DownloadName;
  ::unlink(download.c_str());
  window.Add(QStringLiteral("NEWER VERSION FOUND"));
  if (!Boxes().AskYesNo(&window, QStringLiteral("New version found.  Download now ?"))) {
    window.Add(QStringLiteral("User aborted operation"));
    window.close();
    return;
  }
  window.show();
  window.raise();
  window.activateWindow();
  // An Abort pressed before this download (say, when no transfer ran) is not about it.
  window.ClearAbortRequested();
  window.Add(QStringLiteral("Downloading, Please Wait"));
  const std::int64_t expected = DownloadFile(window, RemoteFileName, download);
  if (window.AbortRequested()) return;
  // A transfer cut short without an error must not replace the program with part of a file.
  if (expected < 0 || FileSize(download) != expected) {
    window.Add(QStringLiteral("Download incomplete"));
    return;
  }
  InstallDownload(window, program, download);
}

void CheckForUpdate(TFTPWindow& window) {
  if (Running()) return;  // the download pumps events, so the button can be pressed again
  RunningCheck running(window);
  try {
    window.show();  // on a window already open, this brings it to the front
    window.raise();
    window.activateWindow();
    if (!EnsureConnected(window)) return;
    ProbeHost(window.Ping1, window.IdFTP1.Host, 5000);
    LookForUpdate(window);
  } catch (const std::exception& e) {
    Boxes().ShowError(&window, ErrorBoxText(QString::fromLocal8Bit(e.what())));
  }
}

void CheckForUpdate() {
  if (FTPWindow != nullptr) CheckForUpdate(*FTPWindow);
}

}  // namespace vorn
