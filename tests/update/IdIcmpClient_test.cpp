// The echo client through its socket and clock seams: request bytes, reply decoding, the wait.
#include "IdIcmpClient.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "ProbeHost.h"

namespace vorn {
namespace {

using Bytes = std::vector<uint8_t>;

void PutWord(Bytes& b, size_t at, uint16_t word) { std::memcpy(&b[at], &word, 2); }

// An IPv4 header of ihl words (options zero) from source with ttl.
Bytes IpHeader(uint8_t ihl, std::array<uint8_t, 4> source, uint8_t ttl, uint8_t protocol = 1) {
  Bytes b(4 * ihl, 0);
  b[0] = 0x40 | ihl;
  b[8] = ttl;
  b[9] = protocol;
  std::memcpy(&b[12], source.data(), 4);
  b[16] = 127, b[19] = 1;
  return b;
}

Bytes Echo(uint8_t type, uint16_t sequence, std::array<uint8_t, 4> source = {127, 0, 0, 1},
           uint8_t ihl = 5) {
  Bytes b = IpHeader(ihl, source, 64);
  const size_t h = b.size();
  b.resize(h + 52, 'E');
  b[h] = type, b[h + 1] = 0;
  PutWord(b, h + 4, 0x1234);
  PutWord(b, h + 6, sequence);
  return b;
}

// An error message of type quoting an echo request (or a message of another protocol).
Bytes ErrorQuoting(uint8_t type, uint16_t sequence, uint8_t quotedIhl = 5, uint8_t protocol = 1) {
  // Laid out in one buffer of the final size: outer header, ICMP header, quoted header, echo.
  const Bytes outer = IpHeader(5, {127, 0, 0, 9}, 250);
  const Bytes quoted = IpHeader(quotedIhl, {127, 0, 0, 1}, 128, protocol);
  const size_t q = outer.size() + 8 + quoted.size();
  Bytes b(q + 52, 'E');
  std::copy(outer.begin(), outer.end(), b.begin());
  std::fill_n(b.begin() + outer.size(), 8, 0);
  b[outer.size()] = type;
  std::copy(quoted.begin(), quoted.end(), b.begin() + outer.size() + 8);
  b[q] = 8;
  PutWord(b, q + 6, sequence);
  return b;
}

// What the fake socket was asked, and what it answers, in order.
struct Script {
  std::deque<Bytes> datagrams;  // once used up, every wait times out
  std::vector<int> waits;
  std::vector<int> ttls;
  std::string address;
  int port = -1;
  Bytes sent;
  uint32_t clock = 1000;
  uint32_t millisecondsPerWait = 0;
  int opened = 0;
  int closed = 0;
};

class FakeSocket : public TIcmpSocket {
 public:
  explicit FakeSocket(Script& s) : s_(s) { ++s_.opened; }
  ~FakeSocket() override { ++s_.closed; }
  void SetTtl(int ttl) override { s_.ttls.push_back(ttl); }
  void SendTo(const std::string& address, int port, std::span<const uint8_t> message) override {
    s_.address = address;
    s_.port = port;
    s_.sent.assign(message.begin(), message.end());
  }
  int Receive(std::span<uint8_t> buffer, int timeoutMs) override {
    s_.waits.push_back(timeoutMs);
    s_.clock += s_.millisecondsPerWait;
    if (s_.datagrams.empty()) return 0;
    const Bytes d = s_.datagrams.front();
    s_.datagrams.pop_front();
    std::memcpy(buffer.data(), d.data(), d.size());
    return static_cast<int>(d.size());
  }

 private:
  Script& s_;
};

struct ScriptedClient {
  Script script;
  TIdIcmpClient ping;
  std::vector<TReplyStatus> replies;
  ScriptedClient() {
    ping.SetSocketFactory([this] { return std::make_unique<FakeSocket>(script); });
    ping.SetTickSource([this] { return script.clock; });
    ping.OnReply = [this](const TReplyStatus& s) { replies.push_back(s); };
    ping.Host = "LocalHost";
  }
};

TEST(EchoRequest, LayoutAndChecksum) {
  const TEchoRequest r = BuildEchoRequest("", 0x1234, 3489, 0xA1B2C3D4);
  const Bytes head(r.begin(), r.begin() + 20);
  EXPECT_EQ(head, (Bytes{8,    0,    head[2], head[3], 0x34, 0x12, 0xA1, 0x0D, 0xD4, 0xC3,
                         0xB2, 0xA1, 0,       0,       0,    0,    0,    0,    0,    0}));
  EXPECT_EQ(Bytes(r.begin() + 20, r.end()), Bytes(32, 'E'));
  // A valid Internet checksum makes the whole message sum to all ones, read in either byte
  // order: the field is right for the wire even though the fields are in host order.
  uint32_t little = 0, big = 0;
  for (size_t i = 0; i < r.size(); i += 2) {
    little += r[i] | r[i + 1] << 8;
    big += r[i] << 8 | r[i + 1];
  }
  while (little >> 16) little = (little & 0xFFFF) + (little >> 16);
  while (big >> 16) big = (big & 0xFFFF) + (big >> 16);
  EXPECT_EQ(little, 0xFFFFu);
  EXPECT_EQ(big, 0xFFFFu);
  EXPECT_EQ(EchoChecksum(r), uint16_t(r[2] | r[3] << 8));

  const TEchoRequest text = BuildEchoRequest("abc", 1, 2, 3);
  EXPECT_EQ(std::string(text.begin() + 20, text.begin() + 25), "abcEE");
  const TEchoRequest tooLong = BuildEchoRequest(std::string(40, 'x'), 1, 2, 3);
  EXPECT_EQ(std::string(tooLong.begin() + 20, tooLong.end()), std::string(32, 'x'));
}

TEST(EchoRequest, TickDifferenceAcrossTheWrap) {
  EXPECT_EQ(TicksBetween(100, 350), 250u);
  EXPECT_EQ(TicksBetween(4294967290u, 10), 15u);
}

TEST(DecodeReply, OutcomesMatchingAndErrors) {
  TReplyStatus s;
  EXPECT_TRUE(DecodeReply({}, 3489, s));
  EXPECT_EQ(s.Outcome, TReplyOutcome::TimedOut);
  EXPECT_EQ(s.SourceAddress, "0.0.0.0");
  EXPECT_EQ(s.SequenceNumber, 3489);
  EXPECT_EQ(s.ReceivedBytes, 0);

  const Bytes reply = Echo(0, 3489, {127, 0, 0, 7});
  EXPECT_TRUE(DecodeReply(reply, 3489, s));
  EXPECT_EQ(s.Outcome, TReplyOutcome::Echo);
  EXPECT_EQ(s.SourceAddress, "127.0.0.7");
  EXPECT_EQ(s.ReceivedBytes, 72);
  EXPECT_EQ(s.Ttl, 64);
  EXPECT_EQ(s.IcmpType, 0);
  EXPECT_EQ(s.SequenceNumber, 3489);

  // Our own request seen on the loopback, and a header with options.
  EXPECT_TRUE(DecodeReply(Echo(8, 3489), 3489, s));
  EXPECT_EQ(s.IcmpType, 8);
  EXPECT_TRUE(DecodeReply(Echo(0, 3489, {127, 0, 0, 1}, 7), 3489, s));
  EXPECT_EQ(s.ReceivedBytes, 80);

  // Another program's exchange is skipped.
  EXPECT_FALSE(DecodeReply(Echo(0, 3490), 3489, s));

  EXPECT_TRUE(DecodeReply(ErrorQuoting(3, 3489), 3489, s));
  EXPECT_EQ(s.Outcome, TReplyOutcome::Unreachable);
  EXPECT_EQ(s.SourceAddress, "127.0.0.9");
  EXPECT_EQ(s.Ttl, 250);
  EXPECT_TRUE(DecodeReply(ErrorQuoting(11, 3489, 6), 3489, s));
  EXPECT_EQ(s.Outcome, TReplyOutcome::TtlExceeded);
  EXPECT_FALSE(DecodeReply(ErrorQuoting(3, 3490), 3489, s));
  // An error about another protocol's traffic, or one cut short before the sequence number.
  EXPECT_FALSE(DecodeReply(ErrorQuoting(3, 3489, 5, 17), 3489, s));
  const Bytes cut = ErrorQuoting(3, 3489);
  EXPECT_FALSE(DecodeReply(std::span(cut).first(20 + 8 + 20 + 6), 3489, s));

  const Bytes shortOne = Echo(0, 3489);
  try {
    DecodeReply(std::span(shortOne).first(27), 3489, s);
    FAIL();
  } catch (const EIdIcmpException& e) {
    EXPECT_STREQ(e.what(), "Not enough bytes received");
    EXPECT_EQ(s.Outcome, TReplyOutcome::Error);
  }
  try {
    DecodeReply(Echo(5, 3489), 3489, s);
    FAIL();
  } catch (const EIdIcmpException& e) {
    EXPECT_STREQ(e.what(), "Non-echo type response received");
  }
}

TEST(EchoExchange, SendsTheRequestAndSkipsOtherSequences) {
  ScriptedClient c;
  c.script.datagrams = {Echo(0, 77), Echo(0, 3489, {127, 0, 0, 5})};
  c.ping.EchoExchange("");
  EXPECT_EQ(c.script.address, "127.0.0.1");
  EXPECT_EQ(c.script.port, 0);
  EXPECT_EQ(c.script.ttls, std::vector<int>{128});
  ASSERT_EQ(c.script.sent.size(), 52u);
  EXPECT_EQ(c.script.sent[0], 8);
  EXPECT_EQ(c.script.sent[6] | c.script.sent[7] << 8, 3489);
  EXPECT_EQ(c.script.sent[4] | c.script.sent[5] << 8, getpid() & 0xFFFF);
  EXPECT_EQ(c.script.waits.size(), 2u);
  ASSERT_EQ(c.replies.size(), 1u);
  EXPECT_EQ(c.replies[0].Outcome, TReplyOutcome::Echo);
  EXPECT_EQ(c.replies[0].SourceAddress, "127.0.0.5");
  EXPECT_EQ(c.ping.SequenceCounter, 3490);
  EXPECT_EQ(c.script.closed, 1);
  EXPECT_FALSE(c.ping.SocketOpen());

  // A sequence number given to the exchange replaces the counter; each exchange opens anew.
  c.script.datagrams = {Echo(0, 700)};
  c.ping.EchoExchange("", 700);
  EXPECT_EQ(c.script.sent[6] | c.script.sent[7] << 8, 700);
  EXPECT_EQ(c.ping.SequenceCounter, 701);
  EXPECT_EQ(c.script.opened, 2);
}

TEST(EchoExchange, TimeOutCountsFromTheStartOfTheWait) {
  ScriptedClient c;
  c.script.millisecondsPerWait = 2000;
  c.script.datagrams = {Echo(0, 1), Echo(0, 2), Echo(0, 3), Echo(0, 4)};
  c.ping.EchoExchange("");
  EXPECT_EQ(c.script.waits, (std::vector<int>{5000, 3000, 1000}));
  ASSERT_EQ(c.replies.size(), 1u);
  const TReplyStatus& s = c.replies[0];
  EXPECT_EQ(s.Outcome, TReplyOutcome::TimedOut);
  EXPECT_EQ(s.SourceAddress, "0.0.0.0");
  EXPECT_EQ(s.ReceivedBytes, 0);
  EXPECT_EQ(s.SequenceNumber, 3489);
  EXPECT_EQ(s.ReplyTimeMs, 6000u);
  EXPECT_EQ(c.ping.SequenceCounter, 3490);

  // A zero time-out only looks once; it never means waiting for ever.
  c.script.waits.clear();
  c.ping.ReceiveTimeout = 0;
  c.script.datagrams = {Echo(0, 9)};
  c.ping.EchoExchange("");
  EXPECT_EQ(c.script.waits, std::vector<int>{0});
}

TEST(EchoExchange, AnErrorKeepsTheCounterAndTheSocket) {
  ScriptedClient c;
  c.script.datagrams = {Echo(13, 3489)};
  EXPECT_THROW(c.ping.EchoExchange(""), EIdIcmpException);
  EXPECT_TRUE(c.replies.empty());
  EXPECT_EQ(c.ping.SequenceCounter, 3489);
  EXPECT_TRUE(c.ping.SocketOpen());

  c.script.datagrams = {ErrorQuoting(3, 3489)};
  c.ping.EchoExchange("");
  EXPECT_EQ(c.script.opened, 1);
  EXPECT_EQ(c.script.ttls, (std::vector<int>{128, 128}));
  ASSERT_EQ(c.replies.size(), 1u);
  EXPECT_EQ(c.replies[0].Outcome, TReplyOutcome::Unreachable);
  EXPECT_EQ(c.ping.SequenceCounter, 3490);
}

TEST(ProbeHost, OutcomesThroughTheSeam) {
  ScriptedClient c;
  c.ping.OnReply = StoreProbeReply;

  // Silent host: completes after the time-out.
  EXPECT_TRUE(ProbeHost(c.ping, "127.0.0.3", 5000));
  EXPECT_TRUE(ProbeSucceeded);
  EXPECT_EQ(ProbeResultText, "0.0.0.0");
  EXPECT_EQ(c.ping.ReceiveTimeout, 5000);
  EXPECT_EQ(c.script.address, "127.0.0.3");

  c.script.datagrams = {ErrorQuoting(3, 3490)};
  EXPECT_TRUE(ProbeHost(c.ping, "127.0.0.3", 5000));
  EXPECT_EQ(ProbeResultText, "127.0.0.9");

  c.script.datagrams = {Echo(4, 3491)};
  EXPECT_FALSE(ProbeHost(c.ping, "127.0.0.3", 5000));
  EXPECT_FALSE(ProbeSucceeded);
  EXPECT_EQ(ProbeResultText, "Failed");

  EXPECT_FALSE(ProbeHost(c.ping, "no-such-host.invalid", 5000));
  EXPECT_FALSE(ProbeSucceeded);
  EXPECT_EQ(ProbeResultText, "Failed");
}

}  // namespace
}  // namespace vorn
