#include "UpdateCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>

#include "Fd.h"
#include "IdException.h"
#include "MappedFile.h"
#include "ProbeHost.h"
#include "ScopeExit.h"
#include "UpdateFile.h"
#include "UpdateSignature.h"
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

// Set when an attempt to open the connection failed; a new showing of the view clears it, and
// until then activating the view does not try again.
bool& AttemptFailed() {
  static bool failed = false;
  return failed;
}

int& HandshakeTimeLimit() {
  static int limit = kHandshakeTimeLimitMs;
  return limit;
}

// A failure's text on one line: its lines (a socket error's number and text, a server's reply
// lines) joined by blanks.
std::string OneLine(std::string_view text) {
  std::string line;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) {
      if (!line.empty()) line += ' ';
      line.append(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return line;
}

// The reply last read, code and text, as the message area shows it.
std::string ReplyLine(const TIdRFCReply& reply) {
  std::string line = reply.TextCode;
  for (const std::string& text : reply.Text) line += ' ' + text;
  return OneLine(line);
}

// What identifies the program file: a file put at its path by someone else differs in one of
// these.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

// The time from "Look for update" to the question: no server holds the check longer.
constexpr auto kCheckDeadline = std::chrono::seconds(30);
// The longest a whole reply of the server may take once the check has asked.
constexpr int kReplyTimeoutMs = 15000;

// The check's deadline on the connection and the probe for the lifetime of this object.
class CheckDeadline {
 public:
  explicit CheckDeadline(UpdateView& view) : view_(view) {
    const auto end = std::chrono::steady_clock::now() + kCheckDeadline;
    view.Connection().Deadline = end;
    view.Connection().ReplyTimeout = kReplyTimeoutMs;
    TIdIcmpClient& ping = view.EchoClient();
    waiting_ = ping.OnWaiting;
    ping.OnWaiting = [inner = waiting_, end] {
      if (inner && !inner()) return false;
      return std::chrono::steady_clock::now() < end;
    };
  }
  ~CheckDeadline() { Lift(); }
  // The question waits for the user, and the download has limits of its own.
  void Lift() {
    view_.Connection().Deadline.reset();
    if (lifted_) return;
    lifted_ = true;
    view_.EchoClient().OnWaiting = waiting_;
  }
  CheckDeadline(const CheckDeadline&) = delete;
  CheckDeadline& operator=(const CheckDeadline&) = delete;

 private:
  UpdateView& view_;
  std::function<bool()> waiting_;
  bool lifted_ = false;
};

CheckDeadline*& Deadline() {
  static CheckDeadline* deadline = nullptr;
  return deadline;
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

bool Step(SwapStep step, const std::string& from, const std::string& to, int download) {
  return RenamerInPlace() ? RenamerInPlace()(step, from, to, download)
                          : RunSwapStep(step, from, to, download);
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

// The signature beside the program file in the server's current folder; empty when it cannot
// be had, for whatever reason (none on the server, one too long, a broken transfer).
std::string FetchSignature(TIdFTP& ftp) {
  QuietTransfer quiet(ftp);
  SignatureSink sink;
  try {
    ftp.RunRetrieve("RETR " + SignatureName, sink, false);
  } catch (const std::exception&) {
    return {};
  }
  return sink.Data();
}

// The download's file, refusing more bytes than the server said the file has: a server
// cannot fill the disk with a file it said was small.
class DownloadSink : public TStream {
 public:
  DownloadSink(const std::string& path, std::int64_t limit)
      : file_(path, TFileStream::Mode::CreateNew), limit_(limit) {}
  void Write(std::string_view bytes) override {
    if (static_cast<std::int64_t>(bytes.size()) > limit_ - file_.Position()) {
      throw EStreamError(kTooLargeText);
    }
    file_.Write(bytes);
  }
  std::int64_t Position() const override { return file_.Position(); }
  int Handle() const { return file_.Handle(); }
  // The same file, open for reading only: the system runs no program file that is open for
  // writing, so the writable descriptor goes (reporting a lost write) once this one is held.
  Fd ReadOnly() {
    Fd held(
        ::open(("/proc/self/fd/" + std::to_string(file_.Handle())).c_str(), O_RDONLY | O_CLOEXEC));
    if (!held.ok()) {
      const int error = errno;
      throw EStreamError("Cannot open file \"" + file_.Path() + "\". " + std::strerror(error));
    }
    file_.Close();
    return held;
  }

 private:
  TFileStream file_;
  std::int64_t limit_;
};

// A byte count as a gauge value: a size beyond the gauge's range is held at its top, while -1
// (no size) stays -1 for the gauge to refuse.
int GaugeMaximum(std::int64_t size) {
  return static_cast<int>(std::min<std::int64_t>(size, std::numeric_limits<int>::max()));
}

// Downloads remoteName from the server's current directory into a new file at localPath, with
// the progress on the view; file holds it from its creation on. Returns the size the server
// reported before the transfer, or -1 at once without a connection. A server that reports no
// size ends the download before it starts, with the gauge's range error; one that reports a
// size above the ceiling, with "The update is too large.".
std::int64_t DownloadFile(UpdateView& view, const std::string& remoteName,
                          const std::string& localPath, std::unique_ptr<DownloadSink>& file) {
  TIdFTP& ftp = view.Connection();
  if (!ftp.IsConnected()) return -1;
  // The path comes from the server's own answer, not from the folder the check asked for.
  const std::string remotePath = ftp.QueryWorkingDir() + "/" + remoteName;
  const std::int64_t size = ftp.QuerySize(remotePath);
  if (size > kUpdateSizeLimit) throw EStreamError(kTooLargeText);
  view.StartProgress(GaugeMaximum(size));  // the gauge refuses -1 with its range error
  file = std::make_unique<DownloadSink>(localPath, size);
  WaitCursor wait;
  ftp.Download(remotePath, *file);
  return size;
}

// The rename to the fallback name, and the notice that says where the download is.
void MoveToFallback(UpdateView& view, const ProgramFile& program, const std::string& download,
                    int fd) {
  const std::string fallbackName = RemoteFileName + "New.exe";
  const std::string fallback = program.Directory + fallbackName;
  const std::string tail = ". Exit this version and Rename it to " + RemoteFileName;
  if (Step(SwapStep::Fallback, download, fallback, fd)) {
    view.Notify("New file is called" + fallbackName + tail);
    return;
  }
  const int error = errno;
  if (error == ESTALE)
    throw EStreamError("\"" + download + "\" was changed before it was installed.");
  // The download keeps its own name; the notice says so, and why.
  view.Notify("New file is called" + DownloadName + ": it could not be renamed to " + fallbackName +
              " (" +
              (error == EEXIST ? std::string("a file of that name exists") : std::strerror(error)) +
              ")" + tail);
}

// Keeps the running program as Prog.old, puts the download in its place in one rename and
// proves that the new program starts on this system before Prog.old goes and the program
// restarts from it; a program stands at the path throughout, and one that cannot start is
// replaced by the old one again in one rename. When the program cannot be kept or replaced,
// the download goes to the fallback name and the user is told.
void InstallDownload(UpdateView& view, const ProgramFile& program, const std::string& download,
                     int fd, const std::string& version, const FileIdentity& identity) {
  const std::string old = program.Directory + OldProgramName;
  // The new bytes must be on disk before a name points at them.
  if (!Step(SwapStep::SyncDownload, download, program.Path, fd)) {
    const int error = errno;
    throw EStreamError("Stream write error: \"" + download + "\". " + std::strerror(error));
  }
  // Another copy of the program leaves Prog.old alone while this swap runs.
  const Fd held = HoldForSwap(program.Path);
  if (Step(SwapStep::KeepOld, program.Path, old, fd)) {
    // What was kept must be the program file as the check found it.
    if (IdentityOf(old) != identity) {
      ::unlink(old.c_str());
      throw EStreamError(kProgramChangedText);
    }
    if (Step(SwapStep::Replace, download, program.Path, fd)) {
      // Either name may be the one on disk after a crash here: both are runnable programs.
      if (!Step(SwapStep::SyncFolder, program.Directory, std::string(), fd)) {
        const int error = errno;
        Step(SwapStep::Restore, old, program.Path, fd);
        throw EStreamError("Stream write error: \"" + program.Directory + "\". " +
                           std::strerror(error));
      }
      TIdFTP& ftp = view.Connection();
      const std::string why = RunUpdateHandshake(program.Path, version, HandshakeTimeLimit(), [&] {
        if (ftp.OnWaiting) ftp.OnWaiting(ftp);
        return !Quitting();
      });
      if (!why.empty()) {
        // The old program goes back in one step; the new file goes with its name.
        Step(SwapStep::Restore, old, program.Path, fd);
        if (Quitting()) return;
        const std::string text = kCannotStartText + std::string(": ") + why + ".";
        view.AddLine(text);
        throw std::runtime_error(text);
      }
      const Restarter& restarter = RestarterInPlace();
      if (const int error = restarter ? restarter(program.Path) : StartProgramFile(program.Path)) {
        // The new program does not start: the old one goes back to its place and runs on.
        Step(SwapStep::Restore, old, program.Path, fd);
        throw std::runtime_error("Cannot start \"" + program.Path + "\". " + std::strerror(error));
      }
      // Only now is the old program no longer needed.
      ::unlink(old.c_str());
      Terminate();
      return;
    }
    const int error = errno;
    // Mostly the program still stands at its path and the second name is not needed; when the
    // rename took something that is not the download, the old program goes back.
    if (!RemoveSecondLink(old, program.Path)) Step(SwapStep::Restore, old, program.Path, fd);
    if (error == ESTALE)
      throw EStreamError("\"" + download + "\" was changed before it was installed.");
  }
  MoveToFallback(view, program, download, fd);
}

}  // namespace

Renamer SetRenamer(Renamer renamer) { return std::exchange(RenamerInPlace(), std::move(renamer)); }

Restarter SetRestarter(Restarter restarter) {
  return std::exchange(RestarterInPlace(), std::move(restarter));
}

void AbortUpdateForQuit() {
  // Quitting closes the windows, which asks again: the server hears of it once.
  if (Running() == nullptr || Quitting()) return;
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
    AttemptFailed() = false;
    return true;
  } catch (const std::exception& e) {
    AttemptFailed() = true;
    // The status lines tell how far it got, the last line why it ended there; a stop the user
    // asked for needs no reason.
    if (!view.AbortRequested() && !Quitting())
      view.AddLine("The connection to the update server failed: " + OneLine(e.what()));
    return false;
  } catch (...) {
    AttemptFailed() = true;
    return false;
  }
}

void NewUpdateShowing() { AttemptFailed() = false; }

void ConnectOnActivation(UpdateView& view) {
  // One attempt at a time, and none after one failed until the view is shown anew.
  if (Running() != nullptr || AttemptFailed()) return;
  RunningCheck running(view);
  CheckDeadline deadline(view);
  EnsureConnected(view);
}

std::int64_t RemoteFileSize(UpdateView& view, const std::string& name, const std::string& dir,
                            bool clearLog) {
  if (clearLog) view.ClearLines();
  if (!EnsureConnected(view)) return -1;
  view.Connection().ChangeWorkingDir(dir);
  return view.Connection().QuerySize(name);
}

void RemoveStaleOldProgram() {
  const ProgramFile program = UpdateProgramFile();
  RemoveStrandedOldProgram(program.Directory + OldProgramName, program.Path);
}

int SetHandshakeTimeLimit(int ms) { return std::exchange(HandshakeTimeLimit(), ms); }

void LookForUpdate(UpdateView& view) {
  // Taken before anything is moved: once the file is renamed, /proc/self/exe names the new name.
  const ProgramFile program = UpdateProgramFile();
  // The file the update will replace, as it is now: one put there meanwhile is not replaced.
  const std::optional<FileIdentity> identity = IdentityOf(program.Path);
  const auto stopped = [&view] { return view.AbortRequested() || Quitting(); };
  view.ClearLines();
  if (stopped()) return;
  if (!ProbeSucceeded) {
    view.AddLine("The update server could not be probed: " + OneLine(ProbeErrorText));
    return;
  }
  if (!EnsureConnected(view)) return;  // its last line says why
  const std::int64_t remote = RemoteFileSize(view, RemoteFileName, RemoteDir, false);
  if (remote < 0) {
    // No size is no news of a version: the server failed to answer.
    view.AddLine("The update server did not tell the size: " +
                 ReplyLine(view.Connection().LastReply));
    return;
  }
  if (identity && remote == identity->size) {
    view.ClearLines();
    view.AddLine("Your version is the newest");
    return;
  }

  const std::string download = program.Directory + DownloadName;
  ::unlink(download.c_str());
  // A Prog.old left by an update that never got to its end would send this one to the
  // fallback name.
  RemoveStaleOldProgram();
  view.AddLine("NEWER VERSION FOUND");
  if (Deadline() != nullptr) Deadline()->Lift();
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
  // The download's own file (never one planted at its name) is removed when the check ends by
  // an error, a refusal or the user quitting; an Abort leaves what came, as does a fallback
  // that could not take the file.
  std::unique_ptr<DownloadSink> file;
  Fd held;  // the download's file once written, read-only
  bool keep = false;
  const auto remove = [&] {
    const int fd = held.ok() ? held.fd() : file ? file->Handle() : -1;
    if (fd >= 0 && !keep && IsSameFile(download, fd)) ::unlink(download.c_str());
  };
  ScopeExit removeDownload(remove);
  // A refusal deletes the file before it is shown: nothing stays while the box is open.
  const auto refuse = [&](const char* text) {
    remove();
    view.ShowError(text);
  };
  std::int64_t expected = -1;
  try {
    expected = DownloadFile(view, RemoteFileName, download, file);
  } catch (...) {
    // A transfer the user stopped may end in an error of its own; it is not news.
    if (!stopped()) throw;
  }
  if (stopped()) {
    keep = !Quitting();
    return;
  }
  // A transfer cut short without an error must not replace the program with part of a file.
  if (expected < 0 || !file || file->Position() != expected) {
    view.AddLine("Download incomplete");
    return;
  }
  held = file->ReadOnly();
  // Only the maker's signature makes the bytes a program worth running.
  const std::string signature = FetchSignature(view.Connection());
  if (stopped()) {
    keep = !Quitting();
    return;
  }
  const int fd = held.fd();
  std::string version;
  {
    // Mapped once for the signature and for what the signed bytes say they are: a newer build
    // of this program, for this machine.
    const MappedFile bytes(fd);
    if (!bytes.ok() || !VerifyUpdateSignature(bytes.Bytes(), signature)) {
      refuse(kNotSignedText);
      return;
    }
    if (!IsNewerBuildOf(bytes.Bytes(), RunningVersionRecord())) {
      refuse(kNotNewerText);
      return;
    }
    if (!IsProgramForMachine(bytes.Bytes(), RunningProgramHeader())) {
      refuse(kNotForThisMachineText);
      return;
    }
    version = FileVersionIn(bytes.Bytes());
  }
  // The program file must still be the one the check began with.
  if (!identity || IdentityOf(program.Path) != identity) {
    refuse(kProgramChangedText);
    return;
  }
  InstallDownload(view, program, download, fd, version, *identity);
  keep = true;  // installed, or moved to the fallback name, or kept when that name was taken
}

void CheckForUpdate(UpdateView& view) {
  if (Running() != nullptr) return;  // every wait pumps events, so it can be asked again
  RunningCheck running(view);
  view.Guarded([&view] {
    view.Present();  // on a window already open, this brings it to the front
    // An Abort pressed before this check (when nothing ran) is not about it.
    view.ClearAbortRequested();
    if (!IsUsableUpdateKey(TrustedUpdateKey())) throw std::runtime_error(kUnusableKeyText);
    CheckDeadline deadline(view);
    Deadline() = &deadline;
    ScopeExit forget([] { Deadline() = nullptr; });
    try {
      if (!EnsureConnected(view)) return;
      ProbeHost(view.EchoClient(), view.Connection().Host, 5000);
      LookForUpdate(view);
    } catch (...) {
      // A wait the user ended (Abort, CLOSE, Exit) ends in an error of its own: not news.
      if (view.AbortRequested() || Quitting()) return;
      throw;
    }
  });
}

}  // namespace vorn
