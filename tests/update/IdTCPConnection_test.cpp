#include "IdTCPConnection.h"

#include <gtest/gtest.h>

#include <deque>

#include "EventLog.h"
#include "IdException.h"
#include "IdTCPClient.h"
#include "ScriptedServer.h"

namespace vorn {
namespace {

using test::EventLog;
using test::ScriptedServer;
using Lines = std::vector<std::string>;

// Connects c to the port at host.
void ConnectTo(TIdTCPClient& c, int port, const char* host = "127.0.0.1") {
  c.Host = host;
  c.Port = port;
  c.Connect();
}

// The same to the server, its events going to log.
void ConnectLogged(TIdTCPClient& c, EventLog& log, const ScriptedServer& server,
                   const char* host = "127.0.0.1") {
  log.Hook(c);
  ConnectTo(c, server.Port(), host);
}

TIdRFCReply ReplyFrom(std::deque<std::string> raw, std::size_t* left = nullptr) {
  TIdRFCReply reply;
  reply.Parse(TIdRFCReply::ReadLines([&raw] {
    if (raw.empty()) throw EIdConnClosedGracefully();
    std::string line = raw.front();
    raw.pop_front();
    return line;
  }));
  if (left) *left = raw.size();
  return reply;
}

TEST(IdRFCReply, SingleAndMultiLineReplies) {
  // Empty and blank lines before a reply are skipped; ends are trimmed of blanks and controls.
  std::size_t left = 0;
  TIdRFCReply r = ReplyFrom({"", " \t", "  213 48128 \x01", "250 next"}, &left);
  EXPECT_EQ(r.NumericCode, 213);
  EXPECT_EQ(r.TextCode, "213");
  EXPECT_EQ(r.Text, Lines{"48128"});
  EXPECT_EQ(left, 1u);

  // A multi-line reply runs to "220 " (any case of a code with letters), empty lines skipped,
  // inner lines without the code keep their text with the leading blanks removed.
  r = ReplyFrom({"220-Welcome", "220-second", "", "   inner line", "220x not the end", "220 Ready",
                 "331 next"},
                &left);
  EXPECT_EQ(r.NumericCode, 220);
  EXPECT_EQ(r.Text, (Lines{"Welcome", "second", "inner line", " not the end", "Ready"}));
  EXPECT_EQ(left, 1u);
  r = ReplyFrom({"2aB-one", "2Ab two"});
  EXPECT_EQ(r.TextCode, "2aB");
  EXPECT_EQ(r.NumericCode, 0);
  EXPECT_EQ(r.Text, (Lines{"one", "two"}));

  // A line shorter than 4 bytes also ends it; a lone code has an empty text.
  r = ReplyFrom({"150-a", "ok", "226 done"}, &left);
  EXPECT_EQ(r.Text, (Lines{"a", "ok"}));
  EXPECT_EQ(left, 1u);
  r = ReplyFrom({"226"});
  EXPECT_EQ(r.NumericCode, 226);
  EXPECT_EQ(r.Text, Lines{""});

  // Bytes are bytes: NUL and high bytes inside a line stay; a code that is no number is 0.
  r = ReplyFrom({std::string("500 a\0b\xff", 8)});
  EXPECT_EQ(r.Text, Lines{std::string("a\0b\xff", 4)});
  r = ReplyFrom({"hello there"});
  EXPECT_EQ(r.TextCode, "hell");
  EXPECT_EQ(r.NumericCode, 0);
  EXPECT_EQ(r.FormattedText(), "o there\r\n");

  // A reply cut off by the peer is an error, never a half reply.
  EXPECT_THROW(ReplyFrom({"220-first", "220-more"}), EIdConnClosedGracefully);
  // A reply that never ends, or never starts, is cut off instead of read for ever.
  std::deque<std::string> endless(1000, "220-more");
  endless.push_back("220 end");
  EXPECT_THROW(ReplyFrom(endless), EIdException);
  endless.assign(1000, "");
  endless.push_back("220 late");
  EXPECT_THROW(ReplyFrom(endless), EIdException);
  endless.assign(999, "220-more");
  endless.push_back("220 end");
  EXPECT_EQ(ReplyFrom(endless).Text.size(), 1000u);
}

TEST(IdTCPConnection, CutLineKeepsToMaxLineLength) {
  std::size_t length = 0, consumed = 0;
  const auto cut = [&](std::string_view b, int max, TIdMaxLineAction a) {
    return TIdTCPConnection::CutLine(b, max, a, length, consumed);
  };
  const auto ex = TIdMaxLineAction::maException, split = TIdMaxLineAction::maSplit;
  EXPECT_TRUE(cut("abc\r\nrest", 8, ex));
  EXPECT_EQ(length, 4u);  // the CR is removed by ReadLine
  EXPECT_EQ(consumed, 5u);
  EXPECT_FALSE(cut("12345678", 8, ex));  // as long as allowed, LF still to come
  EXPECT_TRUE(cut("12345678\n", 8, ex));
  EXPECT_THROW(cut("123456789", 8, ex), EIdReadLnMaxLineLengthExceeded);
  EXPECT_THROW(cut("123456789\n", 8, ex), EIdReadLnMaxLineLengthExceeded);
  EXPECT_TRUE(cut("123456789\n", 8, split));
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(consumed, 8u);
}

TEST(IdTCPConnection, ReadsLinesAndRepliesFromTheSocket) {
  ScriptedServer server;
  const std::string longLine(kIdMaxLineLength + 1, 'x');
  server.Run({ScriptedServer::Say("\r\n\r\n220-Hello\r\n220 there\r\nline\r\r\n"
                                  "abcdefghij\n" +
                                  longLine),
              ScriptedServer::Silent()});
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  std::string seen;
  TIdConnectionIntercept intercept;
  intercept.OnReceive = [&seen](std::string_view b) { seen.append(b); };
  c.Intercept = &intercept;
  EventLog log;
  log.Hook(c);
  c.Connect();
  EXPECT_THROW(c.Connect(), EIdAlreadyConnected);
  EXPECT_EQ(c.ReadReply({220}), 220);
  EXPECT_EQ(c.LastReply.Text, (Lines{"Hello", "there"}));
  EXPECT_EQ(c.ReadLine(), "line\r");  // only one CR goes
  c.MaxLineAction = TIdMaxLineAction::maSplit;
  c.MaxLineLength = 4;
  EXPECT_EQ(c.ReadLine(), "abcd");
  EXPECT_EQ(c.ReadLine(), "efgh");
  EXPECT_EQ(c.ReadLine(), "ij");
  c.MaxLineAction = TIdMaxLineAction::maException;
  c.MaxLineLength = kIdMaxLineLength;
  try {
    c.ReadLine();
    FAIL() << "a line one byte over the limit was accepted";
  } catch (const EIdReadLnMaxLineLengthExceeded& e) {
    EXPECT_STREQ(e.what(), "Max line length exceeded.");
  }
  EXPECT_LE(seen.size(), kIdMaxLineLength + 1u + 48u + 32768u);  // never reads far past the limit
  c.Disconnect();
  EXPECT_FALSE(c.IsConnected());
  try {
    c.WriteBytes("x");
    FAIL();
  } catch (const EIdNotConnected& e) {
    EXPECT_STREQ(e.what(), "Not Connected");
  }
  server.Finish();
  EXPECT_EQ(log.lines,
            (Lines{"Status : Connecting to 127.0.0.1.", "Status : Connected.", "Connected",
                   "Status : Disconnecting.", "Disconnected", "Status : Disconnected."}));
}

TEST(IdTCPConnection, ReadStreamToEndCountsWholeChunks) {
  std::string payload(100000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
  ScriptedServer server;
  server.Run({ScriptedServer::Say(payload), ScriptedServer::Close()});
  TIdTCPClient c;
  EventLog log;
  ConnectLogged(c, log, server, "localhost");
  TMemoryStream into;
  c.ReadStreamToEnd(into);
  server.Finish();
  EXPECT_TRUE(into.Data() == payload);
  // Three whole chunks make three steps; the last 1696 bytes are written without one.
  EXPECT_EQ(log.Only("Work"),
            (Lines{"WorkBegin r 0", "Work r 32768", "Work r 65536", "Work r 98304", "WorkEnd r"}));
  EXPECT_EQ(log.lines.front(), "Status : Resolving hostname localhost.");
  EXPECT_FALSE(c.IsConnected());
}

TEST(IdTCPConnection, PeerClosingWhileAReplyIsAwaited) {
  ScriptedServer server;
  server.Run({ScriptedServer::Say("220 Hel"), ScriptedServer::Close()});
  TIdTCPClient c;
  EventLog log;
  ConnectLogged(c, log, server);
  try {
    c.ReadReply();
    FAIL();
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  server.Finish();
  EXPECT_EQ(log.lines.back(), "Disconnected");
  EXPECT_EQ(log.lines[log.lines.size() - 2], "Status : Disconnected.");
  EXPECT_FALSE(c.IsConnected());
  EXPECT_THROW(c.ReadLine(), EIdConnClosedGracefully);
}

TEST(IdTCPConnection, ASilentPeerTimesOut) {
  ScriptedServer server;
  server.Run({ScriptedServer::Silent()});
  TIdTCPClient c;
  c.ReadTimeout = 100;
  ConnectTo(c, server.Port());
  try {
    c.ReadLine();
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), kWsaETimedOut);
    EXPECT_STREQ(e.what(), "Socket Error # 10060\r\nConnection timed out.");
  }
  c.Disconnect();
  server.Finish();
}

TEST(IdTCPConnection, AcceptTakesOnePeerAndTheListenerGoesEitherWay) {
  ScriptedServer server;
  server.Run({ScriptedServer::Silent()});
  TIdTCPClient control;
  ConnectTo(control, server.Port());
  // Nobody comes: the wait ends in time and the listener is closed.
  TIdTCPClient data;
  ASSERT_GT(data.Listen(control), 0);
  try {
    data.Accept(50);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), kWsaETimedOut);
  }
  EXPECT_FALSE(data.IOHandler().Connected());
  // A peer comes: the connection is the peer's.
  TIdTCPClient peer;
  ConnectTo(peer, data.Listen(control));
  data.Accept(5000);
  data.WriteBytes("hello\r\n");
  EXPECT_EQ(peer.ReadLine(), "hello");
  control.Disconnect();
  server.Finish();
}

}  // namespace
}  // namespace vorn
