// Whole update checks as "Look for update" runs them: against the real update server (and a
// scripted one for the faults it will not make) on the loopback, on a copy of a small program
// in a temporary program folder. The boxes, the program start and the ending are captured.
#include "UpdateCheck.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "Fd.h"
#include "IcmpSocket.h"
#include "ProgramSwap.h"
#include "ScopedSeam.h"
#include "ScriptedServer.h"
#include "TempTree.h"
#include "UpdateBoxes.h"
#include "UpdateFile.h"
#include "UpdateServer.h"
#include "UpdateSignature.h"
#include "ftper.h"
#include "ftper_print.h"
#include "io.h"

namespace vorn {
namespace {

using test::ScopedSeam;

using test::ReadFile;
using test::ScriptedServer;

// Answers each echo request at once as 127.0.0.1 would, so the probe needs no special rights.
class LoopbackEcho : public TIcmpSocket {
 public:
  void SetTtl(int) override {}
  void SendTo(const std::string&, int, std::span<const uint8_t> message) override {
    sent_.assign(message.begin(), message.end());
  }
  int Receive(std::span<uint8_t> buffer, int) override {
    if (sent_.empty()) return 0;
    sent_.front() = 0;  // echo reply
    std::vector<uint8_t> datagram{0x45, 0, 0,   72, 0, 0, 0,   0, 64, 1,
                                  0,    0, 127, 0,  0, 1, 127, 0, 0,  1};
    datagram.insert(datagram.end(), sent_.begin(), sent_.end());
    sent_.clear();
    std::copy(datagram.begin(), datagram.end(), buffer.begin());
    return static_cast<int>(datagram.size());
  }

 private:
  std::vector<uint8_t> sent_;
};

// The program as installed, and update candidates: a newer build of it, an older one, and a
// newer build of another program.
std::string Program() { return ReadFile(VORN_TEST_PROGRAM); }
std::string Next() { return ReadFile(VORN_TEST_PROGRAM_NEXT); }

// Two key pairs made once per run as the maker makes them: the maker's, and someone else's.
const test::TempTree& Keys() {
  static const test::TempTree* keys = [] {
    auto* tree = new test::TempTree;
    for (const char* who : {"maker", "other"}) {
      const std::string command = std::string(VORN_SOURCE_DIR "/scripts/make-update-key ") +
                                  tree->Path(who) + " >/dev/null";
      if (std::system(command.c_str()) != 0) ADD_FAILURE() << "no key: " << command;
    }
    return tree;
  }();
  return *keys;
}
std::string SigningKey(const char* who) {
  return Keys().Path(std::string(who) + "/vorn-update.key");
}

// Runs a program file and returns its exit status (-1 when it could not run).
int RunProgram(const std::string& path) {
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

mode_t Mode(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Write("prog/vorn", Program());
    chmod(ProgramPath().c_str(), 0751);
    window_ = std::make_unique<TFTPWindow>();
    FTPWindow = window_.get();
    window_->IdFTP1.Host = "127.0.0.1";
    window_->Ping1.SetSocketFactory([] { return std::make_unique<LoopbackEcho>(); });
  }

  void TearDown() override {
    FTPWindow = nullptr;
    window_.reset();
    server_.reset();
  }

  // Serves bytes as the program file on the real update server, signed by the maker, and
  // points the window at it.
  void Serve(const std::string& bytes) {
    tree_.Write("srv/docs/Quillo/Programs/Vorn10.exe", bytes);
    server_ = std::make_unique<test::UpdateServer>(tree_.Path("srv"), SigningKey("maker"));
    window_->IdFTP1.Port = server_->Port();
  }

  // Runs fn at the first progress step of the download that follows the Yes, as an event
  // pumped there would.
  void AtFirstPump(std::function<void()> fn) {
    onAsk_ = [this, fn] {
      // Shared: every transfer takes its own copy of the handler.
      auto done = std::make_shared<bool>(false);
      window_->IdFTP1.OnWork = [inner = window_->IdFTP1.OnWork, fn, done](
                                   TIdTCPConnection& sender, TWorkMode mode, std::int64_t count) {
        inner(sender, mode, count);
        if (!std::exchange(*done, true)) fn();
      };
    };
  }

  std::string ProgramPath() const { return tree_.Path("prog/vorn"); }
  std::string InProgramDir(const std::string& name) const { return tree_.Path("prog/" + name); }
  QStringList Lines() const { return window_->MessageLines(); }

  test::TempTree tree_;
  std::unique_ptr<test::UpdateServer> server_;
  std::unique_ptr<TFTPWindow> window_;
  std::vector<std::vector<std::string>> started_;
  int startError_ = 0;  // what the start of the new program reports
  int terminated_ = 0;
  bool answer_ = true;
  std::function<void()> onAsk_;
  QStringList asked_, notices_, errors_;
  bool downloadAtError_ = false;  // a downloaded Temp.upd was still there as an error showed

 private:
  ScopedSeam<std::optional<ProgramFile>> programFile_{
      SetUpdateProgramFile, ProgramFile{ProgramPath(), tree_.Path("prog/")}};
  ScopedSeam<std::optional<UpdatePublicKey>> trustedKey_{
      SetTrustedUpdateKey,
      ParseUpdateKey(ReadFile(Keys().Path("maker/vorn-update.pub")).substr(0, 64))};
  ScopedSeam<Restarter> restarter_{SetRestarter, [this](const std::string& path) {
                                     started_.push_back({path});
                                     return startError_;
                                   }};
  ScopedSeam<Terminator> terminator_{SetTerminator, [this] { ++terminated_; }};
  ScopedSeam<UpdateBoxes> boxes_{SetUpdateBoxes, UpdateBoxes{[this](QWidget*, const QString& text) {
                                                               asked_.push_back(text);
                                                               if (onAsk_) onAsk_();
                                                               return answer_;
                                                             },
                                                             [this](QWidget*, const QString& text) {
                                                               notices_.push_back(text);
                                                             }}};
  ScopedSeam<ErrorBoxShower> errorBox_{
      SetErrorBoxShower, [this](QWidget*, const QString& text) {
        errors_.push_back(text);
        struct stat download {};
        downloadAtError_ |=
            lstat(InProgramDir("Temp.upd").c_str(), &download) == 0 && S_ISREG(download.st_mode);
      }};
};

QStringList DownloadLines(std::int64_t size) {
  return {QStringLiteral("Downloading, Please Wait"),
          QStringLiteral("Status : Starting FTP transfer"),
          QStringLiteral("*******BEGIN*********"),
          QStringLiteral("Work size : ") + QString::number(size),
          QStringLiteral("*****Finished*******"),
          QStringLiteral("Status : Transfer complete"),
          QStringLiteral("Finished downloading file")};
}

TEST_F(UpdateCheckTest, SameSizeIsTheNewestEvenWithOtherBytes) {
  std::string other = Program();
  other[other.size() / 2] ^= 0x55;
  Serve(other);
  CheckForUpdate();
  EXPECT_EQ(Lines(), QStringList{QStringLiteral("Your version is the newest")});
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->IdFTP1.IsConnected());  // left open for the next check

  // The next check reuses the open connection and asks again.
  CheckForUpdate();
  EXPECT_EQ(Lines(), QStringList{QStringLiteral("Your version is the newest")});
  EXPECT_TRUE(asked_.isEmpty());
  EXPECT_TRUE(errors_.isEmpty());
  EXPECT_TRUE(started_.empty());
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
}

TEST_F(UpdateCheckTest, YesDownloadsSwapsAndRestartsFromTheSamePath) {
  const std::string next = Next() + std::string(100000, '\x7f');
  Serve(next);
  tree_.Write("prog/Temp.upd", "left from an earlier, aborted check");
  // A second press of the button while the download runs does nothing.
  QStringList linesAroundSecondPress[2];
  AtFirstPump([&] {
    linesAroundSecondPress[0] = Lines();
    CheckForUpdate();
    linesAroundSecondPress[1] = Lines();
  });
  CheckForUpdate();

  EXPECT_EQ(asked_, QStringList{QStringLiteral("New version found.  Download now ?")});
  QStringList expected{QStringLiteral("NEWER VERSION FOUND")};
  expected += DownloadLines(std::int64_t(next.size()));
  EXPECT_EQ(Lines(), expected);
  EXPECT_FALSE(linesAroundSecondPress[0].isEmpty());
  EXPECT_EQ(linesAroundSecondPress[1], linesAroundSecondPress[0]);

  EXPECT_EQ(ReadFile(ProgramPath()), next);
  EXPECT_EQ(Mode(ProgramPath()), 0751u);  // the old file's bits: still executable
  EXPECT_EQ(RunProgram(ProgramPath()), 0);
  EXPECT_FALSE(Exists(InProgramDir("Prog.old")));
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
  ASSERT_EQ(started_.size(), 1u);
  EXPECT_EQ(started_[0], std::vector<std::string>{ProgramPath()});
  EXPECT_EQ(terminated_, 1);
  EXPECT_EQ(window_->StatusText(), QStringLiteral("Finished"));
  EXPECT_EQ(window_->Gauge1->Progress(), 0);
  EXPECT_TRUE(errors_.isEmpty());
  EXPECT_FALSE(UpdateCheckRunning());
}

TEST_F(UpdateCheckTest, NoLeavesEverythingAndHidesTheWindow) {
  Serve(Program().substr(0, 1000));  // smaller on the server counts as newer too
  tree_.Write("prog/Temp.upd", "old");
  answer_ = false;
  CheckForUpdate();
  EXPECT_EQ(Lines(), (QStringList{QStringLiteral("NEWER VERSION FOUND"),
                                  QStringLiteral("User aborted operation")}));
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));  // deleted before the question
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_TRUE(started_.empty());
  EXPECT_EQ(terminated_, 0);

  // The button shows the window again.
  CheckForUpdate();
  EXPECT_TRUE(asked_.size() == 2 && !window_->isVisible());
}

TEST_F(UpdateCheckTest, AbortKeepsTheProgramAndTheNextCheckDownloadsAgain) {
  const std::string next = Next() + std::string(16 << 20, 'n');
  Serve(next);
  AtFirstPump([this] { QTest::mouseClick(window_->Button2, Qt::LeftButton); });
  CheckForUpdate();

  EXPECT_TRUE(window_->AbortRequested());
  EXPECT_TRUE(Lines().contains(QStringLiteral("Aborting....")));
  EXPECT_TRUE(Lines().contains(QStringLiteral("*****Finished*******")));
  EXPECT_EQ(Lines().back(), QStringLiteral("Finished downloading file"));
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  const std::string partial = ReadFile(InProgramDir("Temp.upd"));
  EXPECT_LT(partial.size(), next.size());
  EXPECT_EQ(partial, next.substr(0, partial.size()));
  EXPECT_TRUE(started_.empty());
  EXPECT_TRUE(errors_.isEmpty());

  // The window is still open, so showing it again clears nothing; the Abort was about the
  // earlier download all the same, and this one is installed.
  onAsk_ = nullptr;
  CheckForUpdate();
  EXPECT_TRUE(errors_.isEmpty());
  EXPECT_EQ(ReadFile(ProgramPath()), next);
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
  EXPECT_EQ(started_.size(), 1u);
}

TEST_F(UpdateCheckTest, CloseDuringTheDownloadStopsItAndThenCloses) {
  Serve(Program() + std::string(16 << 20, 'c'));
  AtFirstPump([this] { QTest::mouseClick(window_->Button1, Qt::LeftButton); });
  CheckForUpdate();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(window_->IdFTP1.IsConnected());
  const QStringList lines = Lines();
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines.mid(lines.size() - 3),
            (QStringList{QStringLiteral("Status : Disconnecting."), QStringLiteral("Disconnected"),
                         QStringLiteral("Status : Disconnected.")}));
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_TRUE(started_.empty());
}

TEST_F(UpdateCheckTest, StrandedProgOldGoesAndOnlyAHeldOneGivesTheFallbackName) {
  const std::string next = Next() + "v2";
  Serve(next);
  // Left by a swap that never got to its end (a crash after the rename): it goes at start and
  // before an update, and the update installs.
  tree_.Write("prog/Prog.old", "the program before the last update");
  RemoveStaleOldProgram();
  EXPECT_FALSE(Exists(InProgramDir("Prog.old")));
  tree_.Write("prog/Prog.old", "the program before the last update");
  CheckForUpdate();
  EXPECT_TRUE(notices_.isEmpty());
  EXPECT_EQ(ReadFile(ProgramPath()), next);
  EXPECT_FALSE(Exists(InProgramDir("Prog.old")));
  EXPECT_EQ(started_.size(), 1u);

  // One that another copy's update holds stays, and the download takes the fallback name.
  tree_.Write("prog/vorn", Program());
  tree_.Write("prog/Prog.old", "another copy's update is at it");
  const Fd held = HoldForSwap(InProgramDir("Prog.old"));
  ASSERT_TRUE(held.ok());
  CheckForUpdate();
  const std::string fallback = InProgramDir("Vorn10.exeNew.exe");
  EXPECT_EQ(notices_, QStringList{QStringLiteral(
                          "New file is calledVorn10.exeNew.exe. Exit this version and Rename it to "
                          "Vorn10.exe")});
  EXPECT_EQ(ReadFile(fallback), next);
  EXPECT_EQ(Mode(fallback), 0751u);
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_EQ(ReadFile(InProgramDir("Prog.old")), "another copy's update is at it");
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));

  // A fallback file already there is not replaced: the download stays in Temp.upd, and the
  // notice says so.
  tree_.Write("prog/Vorn10.exeNew.exe", "mine");
  CheckForUpdate();
  ASSERT_EQ(notices_.size(), 2);
  EXPECT_EQ(notices_[1].toStdString(),
            "New file is calledTemp.upd: it could not be renamed to Vorn10.exeNew.exe (a file "
            "of that name exists). Exit this version and Rename it to Vorn10.exe");
  EXPECT_EQ(ReadFile(fallback), "mine");
  EXPECT_EQ(ReadFile(InProgramDir("Temp.upd")), next);
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
}

// Every file name in the program folder.
QStringList FolderNames(const std::string& dir) {
  QStringList names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const QString name = QString::fromUtf8(e->d_name);
      if (name != QLatin1String(".") && name != QLatin1String("..")) names.push_back(name);
    }
    closedir(d);
  }
  names.sort();
  return names;
}

TEST_F(UpdateCheckTest, ANewProgramThatCannotStartHereIsNeverLeftInPlace) {
  const ScopedSeam<int> limit(SetHandshakeTimeLimit, 1000);
  // In the sanitizer build the served programs would report a crash themselves and exit; here
  // they die by the signal, as a release build does.
  const char* sanitizer = std::getenv("ASAN_OPTIONS");
  const std::string saved = sanitizer ? sanitizer : "";
  setenv("ASAN_OPTIONS",
         (saved.empty() ? std::string() : saved + ":").append("handle_segv=0").c_str(), 1);
  struct Restore {
    std::string value;
    bool had;
    ~Restore() { had ? setenv("ASAN_OPTIONS", value.c_str(), 1) : unsetenv("ASAN_OPTIONS"); }
  } restore{saved, sanitizer != nullptr};
  struct Case {
    const char* program;
    const char* reason;
  };
  for (const Case& c :
       {Case{VORN_TEST_PROGRAM_MISSING, "libftper_missing.so"},
        Case{VORN_TEST_PROGRAM_CRASH, "it was ended by signal 11"},
        Case{VORN_TEST_PROGRAM_HANG, "it did not answer within 1 s"},
        Case{VORN_TEST_PROGRAM_WRONG, "it answered \"ready 0.0.0.1\" instead of"}}) {
    SCOPED_TRACE(c.program);
    errors_.clear();
    server_.reset();
    // A byte more, as every served build has: builds that differ only in their version text can
    // have the running one's size, which means "the newest" and no download.
    Serve(ReadFile(c.program) + "h");
    QElapsedTimer took;
    took.start();
    CheckForUpdate();
    EXPECT_LT(took.elapsed(), 8000);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith(QLatin1String(kCannotStartText))) << errors_[0].toStdString();
    EXPECT_TRUE(errors_[0].contains(QLatin1String(c.reason))) << errors_[0].toStdString();
    EXPECT_EQ(Lines().back(), errors_[0]);
    EXPECT_EQ(ReadFile(ProgramPath()), Program());
    EXPECT_EQ(RunProgram(ProgramPath()), 0);
    EXPECT_EQ(FolderNames(tree_.Path("prog")), QStringList{QStringLiteral("vorn")});
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(terminated_, 0);
  }
}

TEST_F(UpdateCheckTest, AProgramFileReplacedDuringTheDownloadIsLeftAlone) {
  Serve(Next() + std::string(100000, 'r'));
  AtFirstPump([this] {
    tree_.Write("prog/other", "put here by the package manager");
    ASSERT_EQ(rename(InProgramDir("other").c_str(), ProgramPath().c_str()), 0);
  });
  CheckForUpdate();
  EXPECT_EQ(errors_, QStringList{QLatin1String(kProgramChangedText)});
  EXPECT_EQ(ReadFile(ProgramPath()), "put here by the package manager");
  EXPECT_EQ(FolderNames(tree_.Path("prog")), QStringList{QStringLiteral("vorn")});
  EXPECT_TRUE(started_.empty());
}

TEST_F(UpdateCheckTest, ARunnableProgramStandsAtThePathWhicheverSwapStepFails) {
  const std::string next = Next() + "v3";
  Serve(next);
  // A step that fails, or (none) the new program that does not start: the old program stays
  // or comes back, and only the steps that could not keep the download use the fallback name.
  struct Case {
    std::optional<SwapStep> failing;
    bool fallback;
  };
  for (const Case c : {Case{SwapStep::SyncDownload, false}, Case{SwapStep::KeepOld, true},
                       Case{SwapStep::Replace, true}, Case{SwapStep::SyncFolder, false},
                       Case{std::nullopt, false}}) {
    SCOPED_TRACE(c.failing ? static_cast<int>(*c.failing) : -1);
    tree_.Write("prog/vorn", Program());
    unlink(InProgramDir("Vorn10.exeNew.exe").c_str());
    notices_.clear();
    errors_.clear();
    started_.clear();
    startError_ = c.failing ? 0 : ENOEXEC;
    int stepsWithoutProgram = 0;
    const ScopedSeam renamer(
        SetRenamer, [&](SwapStep step, const std::string& from, const std::string& to, int fd) {
          const bool done = step != c.failing && RunSwapStep(step, from, to, fd);
          if (RunProgram(ProgramPath()) != 0) ++stepsWithoutProgram;
          return done;
        });
    CheckForUpdate();
    EXPECT_EQ(stepsWithoutProgram, 0);
    EXPECT_EQ(RunProgram(ProgramPath()), 0);
    EXPECT_EQ(Mode(ProgramPath()), 0751u);
    EXPECT_EQ(ReadFile(ProgramPath()), Program());
    EXPECT_EQ(started_.size(), c.failing ? 0u : 1u);
    EXPECT_FALSE(Exists(InProgramDir("Prog.old")));
    EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
    EXPECT_EQ(Exists(InProgramDir("Vorn10.exeNew.exe")), c.fallback);
    if (c.fallback) {
      EXPECT_EQ(ReadFile(InProgramDir("Vorn10.exeNew.exe")), next);
    }
    EXPECT_EQ(notices_.size(), c.fallback ? 1 : 0);
    EXPECT_EQ(errors_.size(), c.fallback ? 0 : 1);
  }
  EXPECT_EQ(terminated_, 0);

  // The restart runs exactly the file: one that is no program is not handed to a shell.
  tree_.Write("prog/script", "touch ran\n");
  chmod(InProgramDir("script").c_str(), 0755);
  EXPECT_EQ(StartProgramFile(InProgramDir("script")), ENOEXEC);
  EXPECT_EQ(StartProgramFile(ProgramPath()), 0);
}

TEST_F(UpdateCheckTest, OnlyTheMakersSignatureInstalls) {
  const std::string next = Next() + std::string(5000, 's');
  Serve(next);
  const std::string sigPath = tree_.Path("srv/docs/Quillo/Programs/Vorn10.exe.sig");
  const std::string good = ReadFile(sigPath);
  ASSERT_EQ(good.size(), 64u);
  std::string wrong = good;
  wrong[10] ^= 1;
  const std::string byOther = tree_.Path("other.sig");
  ASSERT_EQ(std::system(("openssl pkeyutl -sign -rawin -inkey " + SigningKey("other") + " -in " +
                         tree_.Path("srv/docs/Quillo/Programs/Vorn10.exe") + " -out " + byOther)
                            .c_str()),
            0);
  // The signature file as each case serves it (nullopt: none at all).
  for (const std::optional<std::string>& served :
       {std::optional<std::string>(wrong), std::optional<std::string>(good.substr(0, 63)),
        std::optional<std::string>(good + "x"), std::optional<std::string>(ReadFile(byOther)),
        std::optional<std::string>()}) {
    if (served)
      tree_.Write("srv/docs/Quillo/Programs/Vorn10.exe.sig", *served);
    else
      unlink(sigPath.c_str());
    errors_.clear();
    CheckForUpdate();
    EXPECT_EQ(errors_, QStringList{QStringLiteral("The update is not signed by the maker.")});
    EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
    EXPECT_EQ(ReadFile(ProgramPath()), Program());
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(Lines().back(), QStringLiteral("Finished downloading file"));  // no lines of its own
  }
  // The same connection, still in step, then installs the signed file.
  tree_.Write("srv/docs/Quillo/Programs/Vorn10.exe.sig", good);
  errors_.clear();
  CheckForUpdate();
  EXPECT_TRUE(errors_.isEmpty());
  EXPECT_EQ(ReadFile(ProgramPath()), next);
  EXPECT_EQ(started_.size(), 1u);
}

TEST_F(UpdateCheckTest, QuittingDuringTheDownloadInstallsNothing) {
  Serve(Next() + std::string(16 << 20, 'q'));
  AtFirstPump([] { AbortUpdateForQuit(); });
  CheckForUpdate();
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));  // unlike an Abort, quitting leaves nothing
  EXPECT_TRUE(started_.empty());
  EXPECT_EQ(terminated_, 0);
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(UpdateCheckTest, AFailedProbeOrNoSizeIsSaidAsTheLastLine) {
  Serve(Program() + "x");
  // A system that allows no ICMP socket.
  window_->Ping1.SetSocketFactory(
      []() -> std::unique_ptr<TIcmpSocket> { throw EIdSocketError(kWsaEAcces); });
  CheckForUpdate();
  EXPECT_EQ(Lines(), QStringList{QStringLiteral(
                         "The update server could not be probed: Socket Error # 10013 Access "
                         "denied.")});
  EXPECT_TRUE(asked_.isEmpty());

  // A server that knows no size for the file says nothing of a version.
  window_->Ping1.SetSocketFactory([] { return std::make_unique<LoopbackEcho>(); });
  ASSERT_EQ(unlink(tree_.Path("srv/docs/Quillo/Programs/Vorn10.exe").c_str()), 0);
  CheckForUpdate();
  EXPECT_EQ(Lines(),
            QStringList{QStringLiteral("The update server did not tell the size: 550 "
                                       "/docs/Quillo/Programs/Vorn10.exe is not retrievable.")});
  EXPECT_TRUE(asked_.isEmpty());
  EXPECT_TRUE(errors_.isEmpty());
}

// The login steps of a scripted server, up to the check's own commands.
std::vector<ScriptedServer::Step> Login() {
  return {ScriptedServer::Say("220 ready\r\n"), ScriptedServer::On("USER tavo", "331 password\r\n"),
          ScriptedServer::On("PASS brimtu47", "230 in\r\n"),
          ScriptedServer::On("TYPE I", "200 ok\r\n"), ScriptedServer::On("SYST", "215 UNIX\r\n")};
}

TEST_F(UpdateCheckTest, RefusedLoginStopsAfterTheStatusLines) {
  ScriptedServer server;
  server.Run(
      {ScriptedServer::Say("220 ready\r\n"), ScriptedServer::On("USER tavo", "331 password\r\n"),
       ScriptedServer::On("PASS brimtu47", "530 Login incorrect.\r\n"), ScriptedServer::Silent()});
  window_->IdFTP1.Port = server.Port();
  CheckForUpdate();
  EXPECT_EQ(Lines(),
            (QStringList{
                QStringLiteral("Status : Connecting to 127.0.0.1."),
                QStringLiteral("Status : Connected."), QStringLiteral("Status : Disconnecting."),
                QStringLiteral("Disconnected"), QStringLiteral("Status : Disconnected."),
                QStringLiteral("The connection to the update server failed: Login incorrect.")}));
  EXPECT_TRUE(errors_.isEmpty());
  EXPECT_TRUE(asked_.isEmpty());
  // Activating the window again in the same showing makes no second attempt.
  const QStringList before = Lines();
  window_->FormActivate();
  EXPECT_EQ(Lines(), before);
  server.Finish();
}

TEST_F(UpdateCheckTest, SizeRepliesThatAreNoSizeAreSaidAndSizesAre64Bit) {
  const std::string local = std::to_string(Program().size());
  const std::string beyond32 = std::to_string((std::uint64_t{1} << 32) + Program().size());
  answer_ = false;
  for (const std::string& reply :
       {std::string("550 gone"), std::string("421 closing"), std::string("226 Transfer complete"),
        "213 " + beyond32, "213 " + local}) {
    SCOPED_TRACE(reply);
    ScriptedServer server;
    std::vector<ScriptedServer::Step> steps = Login();
    steps.push_back(ScriptedServer::On("CWD /docs/Quillo/Programs/", "250 ok\r\n"));
    steps.push_back(ScriptedServer::On("SIZE Vorn10.exe", reply + "\r\n"));
    steps.push_back(ScriptedServer::Silent());
    server.Run(steps);
    window_->IdFTP1.Port = server.Port();
    asked_.clear();
    CheckForUpdate();
    if (reply.starts_with("213 " + local)) {
      EXPECT_EQ(Lines(), QStringList{QStringLiteral("Your version is the newest")});
    } else if (reply.starts_with("213")) {
      EXPECT_EQ(asked_.size(), 1);  // 2^32 bytes more is another size
    } else {
      EXPECT_EQ(Lines(), QStringList{QStringLiteral("The update server did not tell the size: ") +
                                     QString::fromStdString(reply)});
    }
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('|')).toStdString();
    window_->IdFTP1.CloseConnection();
    server.Finish();
  }
}

TEST_F(UpdateCheckTest, TruncatedTransferInstallsNothing) {
  const std::string size = std::to_string(Program().size() + 1000);
  ScriptedServer server;
  std::vector<ScriptedServer::Step> steps = Login();
  for (auto step :
       {ScriptedServer::On("CWD /docs/Quillo/Programs/", "250 ok\r\n"),
        ScriptedServer::On("SIZE Vorn10.exe", "213 " + size + "\r\n"),
        ScriptedServer::On("PWD", "257 \"/docs/Quillo/Programs\" is current\r\n"),
        ScriptedServer::On("SIZE /docs/Quillo/Programs/Vorn10.exe", "213 " + size + "\r\n"),
        ScriptedServer::Pasv(),
        ScriptedServer::On("RETR /docs/Quillo/Programs/Vorn10.exe", "150 here\r\n"),
        ScriptedServer::Data(std::string(500, 'x')), ScriptedServer::Say("226 done\r\n"),
        // The next check's transfer breaks with a reset data connection.
        ScriptedServer::On("CWD /docs/Quillo/Programs/", "250 ok\r\n"),
        ScriptedServer::On("SIZE Vorn10.exe", "213 " + size + "\r\n"),
        ScriptedServer::On("PWD", "257 \"/docs/Quillo/Programs\" is current\r\n"),
        ScriptedServer::On("SIZE /docs/Quillo/Programs/Vorn10.exe", "213 " + size + "\r\n"),
        ScriptedServer::Pasv(),
        ScriptedServer::On("RETR /docs/Quillo/Programs/Vorn10.exe", "150 here\r\n"),
        ScriptedServer::Step([](ScriptedServer& s) {
          s.AcceptData();
          s.SendData(std::string(70000, 'y'));
          s.ResetData();
          s.Send("426 reset\r\n");
        }),
        ScriptedServer::Silent()})
    steps.push_back(step);
  server.Run(steps);
  window_->IdFTP1.Port = server.Port();
  CheckForUpdate();
  EXPECT_EQ(Lines().back(), QStringLiteral("Download incomplete"));
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_FALSE(Exists(InProgramDir("Prog.old")));
  EXPECT_TRUE(started_.empty());
  EXPECT_TRUE(errors_.isEmpty());

  // A transfer that fails takes its partial file with it.
  CheckForUpdate();
  EXPECT_EQ(errors_.size(), 1);
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  window_.reset();
  server.Finish();
}

TEST_F(UpdateCheckTest, ErrorsEndTheCheckInTheErrorBox) {
  // The second size query gives none: the gauge refuses the maximum before anything is fetched.
  ScriptedServer server;
  std::vector<ScriptedServer::Step> steps = Login();
  for (auto step : {ScriptedServer::On("CWD /docs/Quillo/Programs/", "250 ok\r\n"),
                    ScriptedServer::On("SIZE Vorn10.exe", "213 7\r\n"),
                    ScriptedServer::On("PWD", "257 \"/docs/Quillo/Programs\"\r\n"),
                    ScriptedServer::On("SIZE /docs/Quillo/Programs/Vorn10.exe", "550 gone\r\n"),
                    ScriptedServer::On("CWD /docs/Quillo/Programs/", "550 No such directory\r\n"),
                    ScriptedServer::Silent()})
    steps.push_back(step);
  server.Run(steps);
  window_->IdFTP1.Port = server.Port();
  CheckForUpdate();
  EXPECT_EQ(errors_, QStringList{QStringLiteral("Value must be between 1 and 2147483647.")});
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // A rejected command shows the server's text; the window stays open.
  CheckForUpdate();
  ASSERT_EQ(errors_.size(), 2);
  EXPECT_TRUE(errors_[1].startsWith(QStringLiteral("No such directory")))
      << errors_[1].toStdString();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_FALSE(UpdateCheckRunning());
  window_.reset();
  server.Finish();
}

TEST_F(UpdateCheckTest, RefusedUpdatesLeaveTheProgramAndNothingBehind) {
  std::string foreign = Next() + "m";
  foreign[18] = static_cast<char>(foreign[18] == '\xb7' ? 0x3e : 0xb7);  // another e_machine
  tree_.Write("victim", "not the server's to write");
  struct Case {
    const char* what;
    std::string bytes;  // empty: a file above the ceiling, served unsigned
    const char* error;
    bool plantLink = false;
  };
  for (const Case& c :
       {Case{"older", ReadFile(VORN_TEST_PROGRAM_OLDER) + "o", kNotNewerText},
        Case{"same version", Program() + "s", kNotNewerText},
        Case{"another program", ReadFile(VORN_TEST_PROGRAM_OTHER) + "p", kNotNewerText},
        Case{"another machine", foreign, kNotForThisMachineText},
        Case{"too large", std::string(), kTooLargeText},
        Case{"link at Temp.upd", Next() + "l", "Cannot create file", true}}) {
    SCOPED_TRACE(c.what);
    errors_.clear();
    server_.reset();
    if (c.bytes.empty()) {
      const std::string served = tree_.Path("srv/docs/Quillo/Programs/Vorn10.exe");
      tree_.Write("srv/docs/Quillo/Programs/Vorn10.exe", "");
      ASSERT_EQ(truncate(served.c_str(), kUpdateSizeLimit + 1), 0);
      unlink((served + ".sig").c_str());
      server_ = std::make_unique<test::UpdateServer>(tree_.Path("srv"));
      window_->IdFTP1.Port = server_->Port();
    } else {
      Serve(c.bytes);
    }
    const std::string download = InProgramDir("Temp.upd");
    onAsk_ = [&] {
      // Planted while the question is open, as anyone who may write in the folder could.
      if (c.plantLink) {
        ASSERT_EQ(symlink(tree_.Path("victim").c_str(), download.c_str()), 0);
      }
    };
    CheckForUpdate();
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith(QLatin1String(c.error))) << errors_[0].toStdString();
    EXPECT_FALSE(downloadAtError_);
    EXPECT_EQ(ReadFile(ProgramPath()), Program());
    EXPECT_EQ(ReadFile(tree_.Path("victim")), "not the server's to write");
    struct stat left {};
    EXPECT_TRUE(lstat(download.c_str(), &left) != 0 || S_ISLNK(left.st_mode));
    EXPECT_FALSE(Exists(InProgramDir("Prog.old")));
    EXPECT_TRUE(started_.empty());
    unlink(download.c_str());
  }
  // Versions compare by number, part for part, missing parts as 0; no text is newer.
  EXPECT_TRUE(IsNewerVersion("0.9.0.13", "0.9.0.9"));
  EXPECT_TRUE(IsNewerVersion("1", "0.9.0.13"));
  EXPECT_FALSE(IsNewerVersion("1.0.0.0", "1"));
  EXPECT_FALSE(IsNewerVersion("0.9.0.13x", "0.9.0.12"));
  EXPECT_FALSE(IsNewerVersion("0..9", "0.1"));
}

// The scripted server's part of a check up to the signature's transfer, then `signature`.
std::vector<ScriptedServer::Step> UpToTheSignature(const std::string& program,
                                                   ScriptedServer::Step signature) {
  const std::string size = std::to_string(program.size());
  std::vector<ScriptedServer::Step> steps = Login();
  for (auto step :
       {ScriptedServer::On("CWD /docs/Quillo/Programs/", "250 ok\r\n"),
        ScriptedServer::On("SIZE Vorn10.exe", "213 " + size + "\r\n"),
        ScriptedServer::On("PWD", "257 \"/docs/Quillo/Programs\"\r\n"),
        ScriptedServer::On("SIZE /docs/Quillo/Programs/Vorn10.exe", "213 " + size + "\r\n"),
        ScriptedServer::Pasv(),
        ScriptedServer::On("RETR /docs/Quillo/Programs/Vorn10.exe", "150 here\r\n"),
        ScriptedServer::Data(program), ScriptedServer::Say("226 done\r\n"), ScriptedServer::Pasv(),
        ScriptedServer::On("RETR Vorn10.exe.sig", "150 here\r\n"), std::move(signature),
        ScriptedServer::Silent()})
    steps.push_back(step);
  return steps;
}

TEST_F(UpdateCheckTest, SignatureTransferFaultsInstallNothing) {
  const std::string next = Next() + "e";
  {
    // A signature whose transfer breaks is no signature: no socket error box.
    ScriptedServer server;
    server.Run(UpToTheSignature(next, [](ScriptedServer& s) {
      s.AcceptData();
      s.SendData(std::string(10, 's'));
      s.ResetData();
    }));
    window_->IdFTP1.Port = server.Port();
    CheckForUpdate();
    EXPECT_EQ(errors_, QStringList{QLatin1String(kNotSignedText)});
    EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
    window_->IdFTP1.CloseConnection();
    server.Finish();
  }
  // A server that falls silent during the signature: Abort is heard, and its reply is not
  // waited for long.
  {
    ScriptedServer server;
    server.Run(UpToTheSignature(next, [](ScriptedServer& s) { s.AcceptData(); }));
    window_->IdFTP1.Port = server.Port();
    errors_.clear();
    QElapsedTimer sinceAbort;
    onAsk_ = [&] {
      QTimer::singleShot(300, window_.get(), [&] {
        sinceAbort.start();
        QTest::mouseClick(window_->Button2, Qt::LeftButton);
      });
    };
    CheckForUpdate();
    ASSERT_TRUE(sinceAbort.isValid());
    EXPECT_LT(sinceAbort.elapsed(), 8000);
    EXPECT_TRUE(errors_.isEmpty());
    EXPECT_EQ(ReadFile(ProgramPath()), Program());
    server.Finish();
  }
  // ... and Exit ends the check at once.
  errors_.clear();
  ScriptedServer server;
  server.Run(UpToTheSignature(next, [](ScriptedServer& s) { s.AcceptData(); }));
  window_->IdFTP1.Port = server.Port();
  QElapsedTimer sinceExit;
  onAsk_ = [&] {
    QTimer::singleShot(300, window_.get(), [&] {
      sinceExit.start();
      AbortUpdateForQuit();
      AbortUpdateForQuit();  // quitting closes the windows, which asks again
    });
  };
  CheckForUpdate();
  ASSERT_TRUE(sinceExit.isValid());
  EXPECT_LT(sinceExit.elapsed(), 1000);
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(ReadFile(ProgramPath()), Program());
  EXPECT_FALSE(Exists(InProgramDir("Temp.upd")));
  EXPECT_TRUE(started_.empty());
  const std::vector<std::string> commands = server.Finish();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "ABOR"), 1);
}

// An echo socket whose host never answers: each wait runs out.
class SilentEcho : public TIcmpSocket {
 public:
  void SetTtl(int) override {}
  void SendTo(const std::string&, int, std::span<const uint8_t>) override {}
  int Receive(std::span<uint8_t>, int timeoutMs) override {
    usleep(static_cast<useconds_t>(std::max(timeoutMs, 0)) * 1000);
    return 0;
  }
};

TEST_F(UpdateCheckTest, NoServerKeepsTheWindowFromItsEventsOrFromExit) {
  // A listener whose one place in the queue is taken: the system drops further SYNs.
  Fd full(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(bind(full.fd(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(full.fd(), 0), 0);
  ASSERT_EQ(getsockname(full.fd(), reinterpret_cast<sockaddr*>(&at), &length), 0);
  Fd queued(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(connect(queued.fd(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);

  using Steps = std::vector<ScriptedServer::Step>;
  Steps sizeUnanswered = Login();
  sizeUnanswered.push_back(ScriptedServer::On("CWD /docs/Quillo/Programs/", "250 ok\r\n"));
  sizeUnanswered.push_back(ScriptedServer::Silent());
  Steps loggedIn = Login();
  loggedIn.push_back(ScriptedServer::Silent());
  struct Case {
    const char* what;
    std::optional<Steps> steps;  // nullopt: the full listener
    bool silentEcho = false;
  };
  for (const Case& c : {Case{"silent greeting", Steps{ScriptedServer::Silent()}},
                        Case{"dripping greeting", Steps{[](ScriptedServer& server) {
                               for (int i = 0; i < 25; ++i) {
                                 server.Send("2");
                                 usleep(100000);
                               }
                             }}},
                        Case{"SIZE never answered", sizeUnanswered},
                        Case{"SYN dropped", std::nullopt}, Case{"echo ignored", loggedIn, true}}) {
    SCOPED_TRACE(c.what);
    ScriptedServer server;
    if (c.steps) {
      server.Run(*c.steps);
      window_->IdFTP1.Port = server.Port();
    } else {
      window_->IdFTP1.Port = ntohs(at.sin_port);
    }
    if (c.silentEcho)
      window_->Ping1.SetSocketFactory([] { return std::make_unique<SilentEcho>(); });
    // The longest the window goes without its events, and the time from Exit to the end.
    QElapsedTimer sinceTick, sinceExit;
    qint64 longestGap = 0;
    QTimer ticks;
    ticks.setInterval(5);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
      if (sinceTick.isValid()) longestGap = std::max(longestGap, sinceTick.elapsed());
      sinceTick.start();
    });
    ticks.start();
    QTimer::singleShot(1500, window_.get(), [&] {
      sinceExit.start();
      AbortUpdateForQuit();
    });
    CheckForUpdate();
    ticks.stop();
    ASSERT_TRUE(sinceExit.isValid());
    EXPECT_LT(sinceExit.elapsed(), 500);
    EXPECT_LT(longestGap, 250);  // 50 ms by design, with room for a loaded machine
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(asked_.isEmpty());
    EXPECT_FALSE(window_->IdFTP1.IsConnected());
    window_.reset();  // the next case gets a window of its own
    window_ = std::make_unique<TFTPWindow>();
    FTPWindow = window_.get();
    window_->IdFTP1.Host = "127.0.0.1";
    window_->Ping1.SetSocketFactory([] { return std::make_unique<LoopbackEcho>(); });
  }
}

TEST_F(UpdateCheckTest, UpdatesFromTheRealServerOnIpv6Loopback) {
  const std::string next = Next() + "6";
  tree_.Write("srv/docs/Quillo/Programs/Vorn10.exe", next);
  try {
    server_ = std::make_unique<test::UpdateServer>(tree_.Path("srv"), SigningKey("maker"), "::1");
  } catch (const std::exception& e) {
    GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
  }
  window_->IdFTP1.Host = "::1";
  window_->IdFTP1.Port = server_->Port();
  QStringList opening;
  window_->IdFTP1.OnStatus = [&](TIdTCPConnection&, TIdStatus, const std::string& text) {
    opening.push_back(QString::fromStdString(text));
  };
  CheckForUpdate();
  EXPECT_TRUE(errors_.isEmpty()) << errors_.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(ReadFile(ProgramPath()), next);
  EXPECT_EQ(started_.size(), 1u);
  ASSERT_FALSE(opening.isEmpty());
  EXPECT_EQ(opening.front(), QStringLiteral("Connecting to ::1."));
}

TEST_F(UpdateCheckTest, OnlyAKeyOfTheMainSubgroupIsUsable) {
  EXPECT_TRUE(IsUsableUpdateKey(TrustedUpdateKey()));
  // The identity and the other points of small order (and zero): no signature verifies.
  for (const char* hex : {"0100000000000000000000000000000000000000000000000000000000000000",
                          "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
                          "0000000000000000000000000000000000000000000000000000000000000000",
                          "0000000000000000000000000000000000000000000000000000000000000080",
                          "c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a",
                          "26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"}) {
    SCOPED_TRACE(hex);
    EXPECT_FALSE(IsUsableUpdateKey(*ParseUpdateKey(hex)));
  }
  // A build with such a key says so before it asks the server anything.
  const ScopedSeam<std::optional<UpdatePublicKey>> identity(
      SetTrustedUpdateKey,
      ParseUpdateKey("0100000000000000000000000000000000000000000000000000000000000000"));
  CheckForUpdate();
  EXPECT_EQ(errors_, QStringList{QLatin1String(kUnusableKeyText)});
  EXPECT_FALSE(window_->IdFTP1.IsConnected());
}

}  // namespace
}  // namespace vorn
