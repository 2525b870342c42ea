#include "UpdateCheck.h"

#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>

#include "IdException.h"
#include "ProbeHost.h"
#include "ScopeExit.h"
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

// The view of the check that runs, or nullptr.
UpdateView*& Running() {
  static UpdateView* running = nullptr;
  return running;
}

// Marks the check as running for its lifetime; as it ends, a "CLOSE" pressed meanwhile
// closes the connection.
class RunningCheck {
 public:
  explicit RunningCheck(UpdateView& view) : view_(view) {
    Running() = &view;
    Quitting() = false;
  }
  ~RunningCheck() {
    Running() = nullptr;
    try {
      view_.CloseIfPending();
    } catch (...) {
      // Closing reports and closes the socket; there is nothing left to tell the user.
    }
  }
  RunningCheck(const RunningCheck&) = delete;
  RunningCheck& operator=(const RunningCheck&) = delete;

 private:
  UpdateView& view_;
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

// A byte count as a gauge value: a size beyond the gauge's range is held at its top, while -1
// (no size) stays -1 for the gauge to refuse.
int GaugeMaximum(std::int64_t size) {
  return static_cast<int>(std::min<std::int64_t>(size, std::numeric_limits<int>::max()));
}

// Keeps the running program as Prog.old, puts the download in its place in one rename and
// restarts from it; a program stands at the path throughout. When the program cannot be kept
// or replaced, the download goes to the fallback name and the user is told.
void InstallDownload(UpdateView& view, const ProgramFile& program, const std::string& download) {
  const std::string old = program.Directory + OldProgramName;
  const std::string fallback = program.Directory + RemoteFileName + "New.exe";
  // The new bytes must be on disk before a name points at them.
  if (!Step(SwapStep::SyncDownload, download, program.Path)) {
    const int error = errno;
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
  view.Notify("New file is called" + RemoteFileName +
              "New.exe. Exit this version and Rename it to " + RemoteFileName);
}

}  // namespace

Renamer SetRenamer(Renamer renamer) { return std::exchange(RenamerInPlace(), std::move(renamer)); }

Restarter SetRestarter(Restarter restarter) {
  return std::exchange(RestarterInPlace(), std::move(restarter));
}

void AbortUpdateForQuit() {
  if (Running() == nullptr) return;
  Quitting() = true;
  Running()->AbortForQuit();
}

ProgramFile UpdateProgramFile() {
  if (ProgramFileInPlace()) return *ProgramFileInPlace();
  return {ProgramPath(), ProgramDirectory()};
}

std::optional<ProgramFile> SetUpdateProgramFile(std::optional<ProgramFile> file) {
  return std::exchange(ProgramFileInPlace(), std::move(file));
}

Terminator SetTerminator(Terminator terminator) {
  return std::exchange(TerminatorInPlace(), std::move(terminator));
}

bool UpdateCheckRunning() { return Running() != nullptr; }

bool EnsureConnected(UpdateView& view) {
  if (view.Connection().IsConnected()) return true;
  try {
    view.Connection().OpenConnection(true);
    return true;
  } catch (...) {
    // The connection's status lines already tell what happened.
    return false;
  }
}

std::int32_t RemoteFileSize(UpdateView& view, const std::string& name, const std::string& dir,
                            bool clearLog) {
  if (clearLog) view.ClearLines();
  if (!EnsureConnected(view)) return -1;
  view.Connection().ChangeWorkingDir(dir);
  const std::int64_t size = view.Connection().QuerySize(name);
  if (size < 0) return -1;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
}

std::int64_t DownloadFile(UpdateView& view, const std::string& remoteName,
                          const std::string& localPath) {
  TIdFTP& ftp = view.Connection();
  if (!ftp.IsConnected()) return -1;
  // The path comes from the server's own answer, not from the folder the check asked for.
  const std::string remotePath = ftp.QueryWorkingDir() + "/" + remoteName;
  const std::int64_t size = ftp.QuerySize(remotePath);
  view.StartProgress(GaugeMaximum(size));  // the gauge refuses -1 with its range error
  WaitCursor wait;
  ftp.Download(remotePath, localPath, true, false);
  return size;
}

void LookForUpdate(UpdateView& view) {
  // Taken before anything is moved: once the file is renamed, /proc/self/exe names the new name.
  const ProgramFile program = UpdateProgramFile();
  view.ClearLines();
  if (!ProbeSucceeded) return;
  const std::int32_t remote = RemoteFileSize(view, RemoteFileName, RemoteDir, false);
  const std::int32_t local = LocalFileSize(program.Path);
  if (remote == local || remote == -1) {
    view.ClearLines();
    view.AddLine("Your version is the newest");
    return;
  }

  const std::string download = program.Directory + DownloadName;
  ::unlink(download.c_str());
  view.AddLine("NEWER VERSION FOUND");
  if (!view.AskYesNo("New version found.  Download now ?")) {
    view.AddLine("User aborted operation");
    view.Dismiss();
    return;
  }
  view.Present();
  if (Quitting()) return;
  // An Abort pressed before this download (say, when no transfer ran) is not about it.
  view.ClearAbortRequested();
  view.AddLine("Downloading, Please Wait");
  // A check that ends by an error leaves no partial file filling the disk.
  ScopeExit deleteOnError([&download, errors = std::uncaught_exceptions()] {
    if (std::uncaught_exceptions() > errors) ::unlink(download.c_str());
  });
  const std::int64_t expected = DownloadFile(view, RemoteFileName, download);
  if (view.AbortRequested() || Quitting()) return;
  // A transfer cut short without an error must not replace the program with part of a file.
  if (expected < 0 || FileSize(download) != expected) {
    ::unlink(download.c_str());
    view.AddLine("Download incomplete");
    return;
  }
  // Only the maker's signature makes the bytes a program worth running.
  const std::string signature = FetchSignature(view.Connection());
  if (view.AbortRequested() || Quitting()) return;
  if (!VerifyUpdateSignature(download, signature)) {
    ::unlink(download.c_str());
    view.ShowError(kNotSignedText);
    return;
  }
  InstallDownload(view, program, download);
}

void CheckForUpdate(UpdateView& view) {
  if (Running() != nullptr) return;  // the download pumps events, so it can be asked again
  RunningCheck running(view);
  view.Guarded([&view] {
    view.Present();  // on a window already open, this brings it to the front
    if (!EnsureConnected(view)) return;
    ProbeHost(view.EchoClient(), view.Connection().Host, 5000);
    LookForUpdate(view);
  });
}

void CheckForUpdate() {
  if (FTPWindow != nullptr) CheckForUpdate(*FTPWindow);
}

}  // namespace vorn
