#include "UpdateCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>

#include "IdException.h"
#include "ProbeHost.h"
#include "UpdateBoxes.h"
#include "UpdateSignature.h"
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

// Set when the user quits during a check; the check installs and starts nothing after it.
bool& Quitting() {
  static bool quitting = false;
  return quitting;
}

bool& Running() {
  static bool running = false;
  return running;
}

// Marks the check as running for its lifetime; as it ends, a "CLOSE" pressed meanwhile
// closes the connection.
class RunningCheck {
 public:
  explicit RunningCheck(TFTPWindow& window) : window_(window) {
    Running() = true;
    Quitting() = false;
  }
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
  if (TerminatorInPlace())
    TerminatorInPlace()();
  else
    QCoreApplication::quit();
}

Renamer& RenamerInPlace() {
  static Renamer renamer;
  return renamer;
}

bool Step(SwapStep step, const std::string& from, const std::string& to) {
  return RenamerInPlace() ? RenamerInPlace()(step, from, to) : RunSwapStep(step, from, to);
}

Restarter& RestarterInPlace() {
  static Restarter restarter;
  return restarter;
}

// Deletes the download when the scope ends by an error, so a failed transfer leaves no
// partial file filling the disk.
class DownloadOnError {
 public:
  explicit DownloadOnError(std::string path) : path_(std::move(path)) {}
  ~DownloadOnError() {
    if (std::uncaught_exceptions() > errors_) ::unlink(path_.c_str());
  }
  DownloadOnError(const DownloadOnError&) = delete;
  DownloadOnError& operator=(const DownloadOnError&) = delete;

 private:
  std::string path_;
  int errors_ = std::uncaught_exceptions();
};

// Holds at most one signature; more bytes end the transfer, so a server cannot fill memory.
class SignatureSink : public TStream {
 public:
  void Write(std::string_view bytes) override {
    if (bytes.size() > kUpdateSignatureSize - data_.size()) {
      throw EStreamError("The signature is longer than a signature.");
    }
    data_.append(bytes);
  }
  std::int64_t Position() const override { return static_cast<std::int64_t>(data_.size()); }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
};

// The signature is a file of its own but not news for the user: its transfer writes nothing
// to the message area and moves no gauge.
class QuietTransfer {
 public:
  explicit QuietTransfer(TIdFTP& ftp)
      : ftp_(ftp),
        status_(std::exchange(ftp.OnStatus, nullptr)),
        begin_(std::exchange(ftp.OnWorkBegin, nullptr)),
        work_(std::exchange(ftp.OnWork, nullptr)),
        end_(std::exchange(ftp.OnWorkEnd, nullptr)) {}
  ~QuietTransfer() {
    ftp_.OnStatus = std::move(status_);
    ftp_.OnWorkBegin = std::move(begin_);
    ftp_.OnWork = std::move(work_);
    ftp_.OnWorkEnd = std::move(end_);
  }
  QuietTransfer(const QuietTransfer&) = delete;
  QuietTransfer& operator=(const QuietTransfer&) = delete;

 private:
  TIdFTP& ftp_;
  decltype(ftp_.OnStatus) status_;
  decltype(ftp_.OnWorkBegin) begin_;
  decltype(ftp_.OnWork) work_;
  decltype(ftp_.OnWorkEnd) end_;
};

// The signature beside the program file in the server's current folder; empty when the
// server has none (or one too long to be one). Other failures are raised.
std::string FetchSignature(TIdFTP& ftp) {
  QuietTransfer quiet(ftp);
  SignatureSink sink;
  try {
    ftp.RunRetrieve("RETR " + SignatureName, sink, false);
  } catch (const EIdProtocolReplyError&) {
    return {};
  } catch (const EStreamError&) {
    return {};
  }
  return sink.Data();
}

// The file's full size, or -1 when it is not a regular file.
std::int64_t FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return info.st_size;
}

// A byte count as a gauge value: a size beyond the gauge's range is held at its top, while -1
// (no size) stays -1 for the gauge to refuse.
int GaugeMaximum(std::int64_t size) {
  return static_cast<int>(std::min<std::int64_t>(size, std::numeric_limits<int>::max()));
}

// Keeps the running program as Prog.old, puts the download in its place in one rename and
// restarts from it; a program stands at the path throughout. When the program cannot be kept
// or replaced, the download goes to the fallback name and the user is told.
void InstallDownload(TFTPWindow& window, const ProgramFile& program, const std::string& download) {
  const std::string old = program.Directory + OldProgramName;
  const std::string fallback = program.Directory + RemoteFileName + "New.exe";
  // The new bytes must be on disk before a name points at them.
  if (!Step(SwapStep::SyncDownload, download, program.Path)) {
    const int error = errno;
    ::unlink(download.c_str());
    throw EStreamError("Stream write error: \"" + download + "\". " + std::strerror(error));
  }
  if (Step(SwapStep::KeepOld, program.Path, old)) {
    if (Step(SwapStep::Replace, download, program.Path)) {
      // Either name may be the one on disk after a crash here: both are runnable programs.
      Step(SwapStep::SyncFolder, program.Directory, std::string());
      // Only now is the old program no longer needed.
      ::unlink(old.c_str());
      const Restarter& restarter = RestarterInPlace();
      if (const int error = restarter ? restarter(program.Path) : StartProgramFile(program.Path)) {
        throw std::runtime_error("Cannot start \"" + program.Path + "\". " + std::strerror(error));
      }
      Terminate();
      return;
    }
    // The program still stands at its path; the second name is not needed.
    ::unlink(old.c_str());
  }
  Step(SwapStep::Fallback, download, fallback);
  const QString name = QString::fromLocal8Bit(RemoteFileName);
  Boxes().Notify(&window, QStringLiteral("New file is called") + name +
                              QStringLiteral("New.exe. Exit this version and Rename it to ") +
                              name);
}

}  // namespace

Renamer SetRenamer(Renamer renamer) { return std::exchange(RenamerInPlace(), std::move(renamer)); }

Restarter SetRestarter(Restarter restarter) {
  return std::exchange(RestarterInPlace(), std::move(restarter));
}

void AbortUpdateForQuit() {
  if (!Running()) return;
  Quitting() = true;
  if (FTPWindow != nullptr) FTPWindow->AbortForQuit();
}

ProgramFile UpdateProgramFile() {
  if (ProgramFileInPlace()) return *ProgramFileInPlace();
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return {path, path.substr(0, path.rfind('/') + 1)};
}

std::optional<ProgramFile> SetUpdateProgramFile(std::optional<ProgramFile> file) {
  return std::exchange(ProgramFileInPlace(), std::move(file));
}

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
  if (Quitting()) return;
  // An Abort pressed before this download (say, when no transfer ran) is not about it.
  window.ClearAbortRequested();
  window.Add(QStringLiteral("Downloading, Please Wait"));
  DownloadOnError failed(download);
  const std::int64_t expected = DownloadFile(window, RemoteFileName, download);
  if (window.AbortRequested() || Quitting()) return;
  // A transfer cut short without an error must not replace the program with part of a file.
  if (expected < 0 || FileSize(download) != expected) {
    ::unlink(download.c_str());
    window.Add(QStringLiteral("Download incomplete"));
    return;
  }
  // Only the maker's signature makes the bytes a program worth running.
  const std::string signature = FetchSignature(window.IdFTP1);
  if (window.AbortRequested() || Quitting()) return;
  if (!VerifyUpdateSignature(download, signature)) {
    ::unlink(download.c_str());
    Boxes().ShowError(&window, QString::fromLatin1(kNotSignedText));
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
