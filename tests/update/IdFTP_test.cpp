// The FTP client against a scripted server: every reply code and fault the update meets.
#include "IdFTP.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

#include "EventLog.h"
#include "IdException.h"
#include "ScriptedServer.h"
#include "TempTree.h"

namespace vorn {
namespace {

using test::EventLog;
using test::ScriptedServer;
using Lines = std::vector<std::string>;
using S = ScriptedServer;

const char* const kGreeting = "220 Vorn test server\r\n";

// The login the update window makes, answered as a plain server does.
std::vector<S::Step> Login(std::vector<S::Step> more = {}) {
  std::vector<S::Step> steps = {S::Say(kGreeting), S::On("USER tavo", "331 Password please\r\n"),
                                S::On("PASS brimtu47", "230 Logged in\r\n"),
                                S::On("TYPE I", "200 Type set to I\r\n"),
                                S::On("SYST", "215 UNIX Type: L8\r\n")};
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

struct Client {
  TIdFTP ftp;
  EventLog log;
  explicit Client(int port, const char* host = "127.0.0.1") {
    ftp.Host = host;
    ftp.Port = port;
    ftp.Username = "tavo";
    ftp.Password = "brimtu47";
    ftp.Passive = true;
    log.Hook(ftp);
  }
};

template <typename E>
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<no error>";
}

TEST(IdFTP, OpensWithEveryLoginAndGreetingForm) {
  {  // One-line greeting, USER answered 230 at once, SYST 215, a host name to resolve.
    S server;
    server.Run({S::Say(kGreeting), S::On("USER tavo", "230 Welcome\r\n"),
                S::On("TYPE I", "200 OK\r\n"), S::On("SYST", "215 UNIX Type: L8\r\n"),
                S::Silent()});
    Client c(server.Port(), "LOCALHOST");
    c.ftp.OpenConnection();
    EXPECT_TRUE(c.ftp.IsConnected());
    EXPECT_EQ(c.ftp.SystemDescription, "UNIX Type: L8");
    EXPECT_EQ(c.ftp.GreetingReply.Text, Lines{"Vorn test server"});
    EXPECT_EQ(c.ftp.LoginReply.NumericCode, 230);
    EXPECT_THROW(c.ftp.OpenConnection(), EIdAlreadyConnected);
    c.ftp.CloseConnection();
    EXPECT_EQ(server.Finish(), (Lines{"USER tavo", "TYPE I", "SYST"}));  // no QUIT
    EXPECT_EQ(c.log.lines,
              (Lines{"Status : Resolving hostname LOCALHOST.", "Status : Connecting to 127.0.0.1.",
                     "Status : Connected.", "Connected", "Status : Connection established",
                     "Status : Disconnecting.", "Disconnected", "Status : Disconnected."}));
  }
  {  // A greeting of several lines is read whole before the login; 331 then 230; SYST 500.
    S server;
    server.Run({S::Say("220-Welcome\r\n220-to the\r\n   server\r\n220 Ready\r\n"),
                S::On("USER tavo", "331 Password\r\n"), S::On("PASS brimtu47", "230 In\r\n"),
                S::On("TYPE A", "200 OK\r\n"), S::On("SYST", "500 What?\r\n"), S::Silent()});
    Client c(server.Port());
    c.ftp.TransferType = TIdFTPTransferType::ftASCII;
    c.ftp.OpenConnection();
    EXPECT_EQ(c.ftp.GreetingReply.Text, (Lines{"Welcome", "to the", "server", "Ready"}));
    EXPECT_EQ(c.ftp.SystemDescription, "Unknown");
    EXPECT_EQ(c.ftp.LoginReply.Text, Lines{"In"});
    c.ftp.CloseConnection();
    EXPECT_EQ(server.Finish(), (Lines{"USER tavo", "PASS brimtu47", "TYPE A", "SYST"}));
  }
}

TEST(IdFTP, AFailedOpeningClosesTheConnectionAgain) {
  const Lines closing = {"Status : Disconnecting.", "Disconnected", "Status : Disconnected."};
  struct Case {
    const char* name;
    std::vector<S::Step> steps;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"login refused",
       {S::Say(kGreeting), S::On("USER tavo", "331 Password\r\n"),
        S::On("PASS brimtu47", "530 Login incorrect.\r\n"), S::Silent()},
       "Login incorrect.\r\n"},
      {"SYST 502",
       {S::Say(kGreeting), S::On("USER tavo", "230 In\r\n"), S::On("TYPE I", "200 OK\r\n"),
        S::On("SYST", "502 Not implemented\r\n"), S::Silent()},
       "Not implemented\r\n"},
      {"greeting 421",
       {S::Say("421-Too many\r\n421 users\r\n"), S::Silent()},
       "Too many\r\nusers\r\n"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    S server;
    server.Run(k.steps);
    Client c(server.Port());
    EXPECT_EQ(ErrorOf<EIdProtocolReplyError>([&] { c.ftp.OpenConnection(); }), k.error);
    EXPECT_FALSE(c.ftp.IsConnected());
    ASSERT_GE(c.log.lines.size(), 3u);
    EXPECT_EQ(Lines(c.log.lines.end() - 3, c.log.lines.end()), closing);
    server.Finish();
  }
}

TEST(IdFTP, NetworkFaultsWhileOpening) {
  {  // The server closes in the middle of its greeting.
    S server;
    server.Run({S::Say("220 Hel"), S::Close()});
    Client c(server.Port());
    EXPECT_EQ(ErrorOf<EIdConnClosedGracefully>([&] { c.ftp.OpenConnection(); }),
              "Connection Closed Gracefully.");
    EXPECT_EQ(c.log.lines.back(), "Disconnected");
    EXPECT_FALSE(c.ftp.IsConnected());
    server.Finish();
  }
  {  // A greeting line one byte over the limit.
    S server;
    server.Run({S::Say("220 " + std::string(kIdMaxLineLength - 3, 'a')), S::Silent()});
    Client c(server.Port());
    EXPECT_EQ(ErrorOf<EIdReadLnMaxLineLengthExceeded>([&] { c.ftp.OpenConnection(); }),
              "Max line length exceeded.");
    EXPECT_FALSE(c.ftp.IsConnected());
    server.Finish();
  }
  {  // A server that never says a word.
    S server;
    server.Run({S::Silent()});
    Client c(server.Port());
    c.ftp.ReadTimeout = 100;
    EXPECT_EQ(ErrorOf<EIdSocketError>([&] { c.ftp.OpenConnection(); }),
              "Socket Error # 10060\r\nConnection timed out.");
    EXPECT_FALSE(c.ftp.IsConnected());
    server.Finish();
  }
  {  // Nobody listens on the port.
    int port = 0;
    {
      S closedAgain;
      port = closedAgain.Port();
    }
    Client c(port);
    EXPECT_EQ(ErrorOf<EIdSocketError>([&] { c.ftp.OpenConnection(); }),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(c.log.lines, Lines{"Status : Connecting to 127.0.0.1."});
  }
  {  // A name that does not resolve.
    Client c(21, "no-such-host.invalid");
    EXPECT_EQ(ErrorOf<EIdSocketError>([&] { c.ftp.OpenConnection(); }),
              "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(c.log.lines, Lines{"Status : Resolving hostname no-such-host.invalid."});
  }
}

TEST(IdFTP, DirectoryAndSizeQueries) {
  // Each reply of the server with what the query makes of it.
  const std::pair<const char*, const char*> dirs[] = {
      {"257 \"/docs/Quillo/Programs\" is current directory.\r\n", "/docs/Quillo/Programs"},
      {"257 is current directory.\r\n", ""},
      {"257 only \"one quote\r\n", ""}};
  const std::pair<const char*, std::int64_t> sizes[] = {{"213 48128\r\n", 48128},
                                                        {"213 size 48128\r\n", 48128},
                                                        {"213 unknown\r\n", -1},
                                                        {"213 -5\r\n", -1},
                                                        {"550 Vorn10.exe: No such file.\r\n", -1},
                                                        {"213 6000000000\r\n", 6000000000LL}};
  std::vector<S::Step> script = {S::On("CWD /nope/", "550 No such directory.\r\n"),
                                 S::On("CWD /docs/Quillo/Programs/", "250 OK\r\n")};
  for (const auto& [reply, dir] : dirs) script.push_back(S::On("PWD", reply));
  for (const auto& [reply, size] : sizes) script.push_back(S::On("SIZE Vorn10.exe", reply));
  script.push_back(S::On("PASV", "227 Entering Passive Mode (10,0,0,1,19,137).\r\n"));
  script.push_back(S::On("PASV", "227 Entering Passive Mode 10,0,0,1,19,137\r\n"));
  script.push_back(S::Silent());
  S server;
  server.Run(Login(std::move(script)));
  Client c(server.Port());
  c.ftp.OpenConnection();
  try {
    c.ftp.ChangeWorkingDir("/nope/");
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode(), 550);
    EXPECT_STREQ(e.what(), "No such directory.\r\n");
  }
  c.ftp.ChangeWorkingDir("/docs/Quillo/Programs/");
  for (const auto& [reply, dir] : dirs) EXPECT_EQ(c.ftp.QueryWorkingDir(), dir) << reply;
  for (const auto& [reply, size] : sizes) EXPECT_EQ(c.ftp.QuerySize("Vorn10.exe"), size) << reply;
  for (int i = 0; i < 2; ++i) {
    std::string address;
    int port = 0;
    c.ftp.EnterPassive(address, port);
    EXPECT_EQ(address, "10.0.0.1");
    EXPECT_EQ(port, 5001);
  }
  // A command with a line break would smuggle a second one: refused before sending.
  EXPECT_THROW(c.ftp.ChangeWorkingDir("x\r\nDELE Vorn10.exe"), EIdException);
  c.ftp.CloseConnection();
  server.Finish();
}

TEST(IdFTP, PassiveRepliesThatAreNoAddress) {
  std::string address = "unchanged";
  int port = -1;
  const auto error = [&](std::string_view line) {
    return ErrorOf<EConvertError>([&] { TIdFTP::ParsePassive(line, address, port); });
  };
  EXPECT_EQ(error("Entering Passive Mode (127,0,0,1,x,1)"), "'x' is not a valid integer value");
  EXPECT_EQ(error("Entering Passive Mode (127,0,0,1,4)"), "'' is not a valid integer value");
  EXPECT_EQ(error("Entering Passive Mode )127,0,0,1,4,1("), "'' is not a valid integer value");
  EXPECT_NE(error("(300,0,0,1,4,1)").find("'300' is not a valid address field"), std::string::npos);
  EXPECT_NE(error("(127,0,0,1,256,1)").find("'256' is not a valid port field"), std::string::npos);
  EXPECT_NE(error("(127,0,0,1,1,-1)").find("'-1' is not a valid port field"), std::string::npos);
  EXPECT_NE(error("(127,0,0,1,0,0)").find("not a valid port"), std::string::npos);
  EXPECT_EQ(address, "unchanged");
  EXPECT_EQ(port, -1);
  TIdFTP::ParsePassive("Entering (127, 0,0,01, 255 ,255)", address, port);
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(port, 65535);
}

std::string Payload(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return bytes;
}

TEST(IdFTP, DownloadsWithTheFinalReplyApartOrInOnePacket) {
  const std::string payload = Payload(100000);
  for (const bool onePacket : {false, true}) {
    SCOPED_TRACE(onePacket ? "150 and 226 in one packet" : "150, data, 226");
    test::TempTree dir;
    dir.Write("Temp.upd", "old content that must go");
    S server;
    std::vector<S::Step> retr;
    if (onePacket) {
      retr = {S::On("RETR /docs/Vorn10.exe", "150 Opening\r\n226 Transfer complete.\r\n"),
              S::Data(payload)};
    } else {
      retr = {S::On("RETR /docs/Vorn10.exe", "150 Opening\r\n"), S::Data(payload),
              S::Say("226 Transfer complete.\r\n")};
    }
    retr.push_back(S::On("SIZE x", "213 1\r\n"));
    retr.push_back(S::Silent());
    // A reply naming another host is followed only for its port: the data connection goes
    // to the server the client is talking to (the data port listens on 127.0.0.1 only).
    std::vector<S::Step> steps = Login({S::Pasv(onePacket ? "127,0,0,2" : "127,0,0,1")});
    steps.insert(steps.end(), retr.begin(), retr.end());
    server.Run(steps);
    Client c(server.Port());
    c.ftp.OpenConnection();
    c.log.lines.clear();
    c.ftp.Download("/docs/Vorn10.exe", dir.Path("Temp.upd"), true, false);
    EXPECT_EQ(c.ftp.DataConnection(), nullptr);
    EXPECT_TRUE(test::ReadFile(dir.Path("Temp.upd")) == payload);
    EXPECT_EQ(c.log.lines, (Lines{"Status : Starting FTP transfer", "WorkBegin r 0", "Work r 32768",
                                  "Work r 65536", "Work r 98304", "WorkEnd r",
                                  "Status : Transfer complete", "AfterGet"}));
    EXPECT_EQ(c.ftp.QuerySize("x"), 1);  // the control connection is still in step
    c.ftp.CloseConnection();
    server.Finish();
  }
}

TEST(IdFTP, AbortFromAWorkEvent) {
  const std::string payload = Payload(200000);
  test::TempTree dir;
  S server;
  server.Run(Login({S::Pasv(), S::On("RETR /big", "150 Opening\r\n"),
                    [&payload](S& s) {
                      s.AcceptData();
                      s.SendData(payload);
                      s.Expect("ABOR");
                      s.CloseData();
                      s.Send(
                          "426 Connection closed; transfer aborted.\r\n"
                          "226 ABOR command successful.\r\n");
                    },
                    S::On("SIZE x", "213 7\r\n"),
                    // The server finished before the ABOR came: 226, then 225 for the ABOR.
                    S::Pasv(), S::On("RETR /done", "150 Opening\r\n"),
                    [&payload](S& s) {
                      s.AcceptData();
                      s.SendData(payload.substr(0, 100000));
                      s.CloseData();
                      s.Send("226 Transfer complete.\r\n");
                      s.Expect("ABOR");
                      s.Send("225 No transfer to abort.\r\n");
                    },
                    S::On("SIZE y", "213 8\r\n"),
                    // An abort with no transfer running.
                    S::On("ABOR", "225 No transfer to abort.\r\n"),
                    S::On("CWD /docs", "250 OK\r\n"), S::Silent()}));
  Client c(server.Port());
  c.ftp.OpenConnection();
  c.log.lines.clear();
  c.ftp.OnWork = [&c](TIdTCPConnection&, TWorkMode, std::int64_t count) {
    c.log.lines.push_back("Work " + std::to_string(count));
    c.ftp.AbortTransfer();
  };
  c.ftp.Download("/big", dir.Path("Temp.upd"), true, false);
  EXPECT_EQ(c.log.lines,
            (Lines{"Status : Starting FTP transfer", "WorkBegin r 0", "Work 32768", "WorkEnd r",
                   "Status : Transfer complete", "Status : Transfer aborted", "AfterGet"}));
  // The chunk whose step was reported is written; nothing after the abort.
  EXPECT_TRUE(test::ReadFile(dir.Path("Temp.upd")) == payload.substr(0, 32768));
  EXPECT_EQ(c.ftp.QuerySize("x"), 7);  // both replies of the abort were read

  c.log.lines.clear();
  c.ftp.Download("/done", dir.Path("done"), true, false);
  EXPECT_EQ(c.log.Only("Status"),
            (Lines{"Status : Starting FTP transfer", "Status : Transfer complete"}));
  EXPECT_EQ(c.ftp.QuerySize("y"), 8);  // not the 225 meant for the ABOR

  c.ftp.OnWork = nullptr;
  c.ftp.AbortTransfer();
  c.ftp.ChangeWorkingDir("/docs");  // takes 250, not the ABOR's 225
  c.ftp.CloseConnection();
  server.Finish();
}

TEST(IdFTP, DownloadFailuresLeaveTheClientUsable) {
  test::TempTree dir;
  dir.Write("kept", "keep me");
  S server;
  server.Run(Login({S::Pasv(), S::On("RETR /missing", "550 No such file.\r\n"),
                    S::On("PASV", "227 Entering Passive Mode (127,0,0,1,0,0)\r\n"), S::Pasv(),
                    S::On("RETR /a", "150 Opening\r\n"),
                    [](S& s) {
                      s.AcceptData();
                      s.SendData(std::string(40000, 'a'));
                      s.CloseData();
                      s.Send("226 Done\r\n");
                    },
                    S::Pasv(), S::On("RETR /cut", "150 Opening\r\n"),
                    [](S& s) {
                      s.AcceptData();
                      s.SendData(std::string(5000, 'c'));
                      s.CloseData();
                      s.Send("426 Connection closed; transfer aborted.\r\n");
                    },
                    S::On("SIZE /cut", "213 9000\r\n"), S::Silent()}));
  Client c(server.Port());
  c.ftp.OpenConnection();

  // An existing file that may not be overwritten: nothing is sent, the file is kept.
  EXPECT_EQ(ErrorOf<EIdFTPFileAlreadyExists>(
                [&] { c.ftp.Download("/x", dir.Path("kept"), false, false); }),
            "Destination file already exists.");
  EXPECT_EQ(test::ReadFile(dir.Path("kept")), "keep me");

  c.log.lines.clear();
  EXPECT_EQ(ErrorOf<EIdProtocolReplyError>(
                [&] { c.ftp.Download("/missing", dir.Path("m"), true, false); }),
            "No such file.\r\n");
  EXPECT_EQ(c.log.lines, (Lines{"Status : Starting FTP transfer", "Status : Transfer complete"}));
  EXPECT_EQ(c.ftp.DataConnection(), nullptr);

  // A PASV port of 0 is no address to connect to.
  EXPECT_THROW(c.ftp.Download("/z", dir.Path("z"), true, false), EConvertError);

  // A second download started from a work event of the first is refused; the first goes on.
  std::string nested;
  c.ftp.OnWork = [&](TIdTCPConnection&, TWorkMode, std::int64_t) {
    nested = ErrorOf<EIdException>([&] { c.ftp.Download("/b", dir.Path("b"), true, false); });
  };
  c.ftp.Download("/a", dir.Path("a"), true, false);
  EXPECT_EQ(nested, "A transfer is already running.");
  EXPECT_EQ(test::ReadFile(dir.Path("a")), std::string(40000, 'a'));

  // A server that breaks a transfer off unasked: an error, not a finished download.
  c.ftp.OnWork = nullptr;
  c.log.lines.clear();
  EXPECT_EQ(
      ErrorOf<EIdProtocolReplyError>([&] { c.ftp.Download("/cut", dir.Path("cut"), true, false); }),
      "Connection closed; transfer aborted.\r\n");
  EXPECT_EQ(c.log.Only("AfterGet"), Lines{});
  EXPECT_EQ(c.ftp.QuerySize("/cut"), 9000);
  c.ftp.CloseConnection();
  server.Finish();
}

TEST(IdFTP, AFailedTransferLeavesTheControlConnectionInStep) {
  test::TempTree dir;
  S server;
  server.Run(Login({S::Pasv(), S::On("RETR /reset", "150 Opening\r\n"),
                    [](S& s) {
                      s.AcceptData();
                      s.SendData(std::string(3000, 'r'));
                      s.ResetData();
                      s.Send("426 Connection reset; transfer aborted.\r\n");
                    },
                    S::On("SIZE /a", "213 11\r\n"), S::On("SIZE /b", "213 22\r\n"),
                    // The start reply never comes: nothing later can be matched to its command.
                    S::Pasv(), S::Silent()}));
  Client c(server.Port());
  c.ftp.OpenConnection();
  EXPECT_THROW(c.ftp.Download("/reset", dir.Path("reset"), true, false), EIdSocketError);
  EXPECT_TRUE(c.ftp.IsConnected());
  // Each command gets its own answer: the transfer's 426 is read first, not taken for SIZE's.
  EXPECT_EQ(c.ftp.QuerySize("/a"), 11);
  EXPECT_EQ(c.ftp.QuerySize("/b"), 22);

  c.ftp.ReadTimeout = 300;
  EXPECT_THROW(c.ftp.Download("/slow", dir.Path("slow"), true, false), EIdSocketError);
  EXPECT_FALSE(c.ftp.IsConnected());
  server.Finish();
}

TEST(IdFTP, DeadlinesEndAServerThatDripsOrIsSilent) {
  // One byte every 50 ms never lets a read run out; the reply's own limit ends it, and the
  // connection goes with the reply it did not read whole.
  S server;
  server.Run(Login({S::Step([](S& s) {
    s.Expect("PWD");
    for (int i = 0; i < 20; ++i) {
      s.Send("2");
      usleep(50000);
    }
  })}));
  Client c(server.Port());
  c.ftp.OpenConnection();
  c.ftp.ReplyTimeout = 300;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf<EIdSocketError>([&] { c.ftp.QueryWorkingDir(); }),
            "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_FALSE(c.ftp.IsConnected());
  server.Finish();

  // The overall deadline bounds an opening the same way.
  S silent;
  silent.Run({S::Silent()});
  Client d(silent.Port());
  d.ftp.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  EXPECT_EQ(ErrorOf<EIdSocketError>([&] { d.ftp.OpenConnection(); }),
            "Socket Error # 10060\r\nConnection timed out.");
  silent.Finish();

  // The extended passive reply an IPv6 connection asks for.
  EXPECT_EQ(TIdFTP::ParseExtendedPassive("Entering extended passive mode (|||47971|)."), 47971);
  EXPECT_EQ(TIdFTP::ParseExtendedPassive("ok (!!!21!)"), 21);
  for (const char* bad : {"(|||0|)", "(|||x|)", "(||1|2|)", "no parentheses", "(|||70000|)"})
    EXPECT_THROW(TIdFTP::ParseExtendedPassive(bad), EConvertError) << bad;
}

}  // namespace
}  // namespace vorn
