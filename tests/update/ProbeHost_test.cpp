// The probe over real sockets: on the loopback as the system allows it, and in network
// namespaces made by each test in a child process, where the test decides which socket the
// system allows and whether the loopback answers. Nothing is sent outside 127.0.0.0/8.
#include "ProbeHost.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

namespace vorn {
namespace {

// Runs body in a child process inside a new network namespace and returns what it reports,
// or "SKIP: why" when the system gives no namespace.
std::string InNewNetwork(const std::function<std::string()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "SKIP: no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out;
    if (unshare(CLONE_NEWNET) != 0) {
      out = std::string("SKIP: no network namespace: ") + std::strerror(errno);
    } else {
      try {
        out = body();
      } catch (const std::exception& e) {
        out = std::string("raised: ") + e.what();
      }
    }
    for (size_t done = 0; done < out.size();) {
      const ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

void WriteSetting(const char* path, const std::string& value) {
  std::ofstream file(path);
  file << value;
  if (!file.flush()) throw std::runtime_error(std::string("cannot write ") + path);
}

void BringLoopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq req{};
  std::strcpy(req.ifr_name, "lo");
  ioctl(fd, SIOCGIFFLAGS, &req);
  req.ifr_flags |= IFF_UP;
  const int rc = ioctl(fd, SIOCSIFFLAGS, &req);
  close(fd);
  if (rc != 0) throw std::runtime_error("cannot bring the loopback up");
}

void AllowEchoSockets() {
  WriteSetting("/proc/sys/net/ipv4/ping_group_range",
               std::to_string(getgid()) + " " + std::to_string(getgid()));
}

// Takes the right to raw sockets from this process.
void DropRawSocketRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) throw std::runtime_error("capget");
  data[0].effective &= ~(1u << CAP_NET_RAW);
  data[0].permitted &= ~(1u << CAP_NET_RAW);
  if (syscall(SYS_capset, &header, data) != 0) throw std::runtime_error("capset");
}

// The port the kernel gave the first echo socket of this namespace once it has sent (its
// requests' identifier), or 0 while there is none.
int EchoSocketPort() {
  std::ifstream table("/proc/net/icmp");
  std::string line;
  std::getline(table, line);  // the heading
  std::string slot, local;
  if (!(table >> slot >> local)) return 0;
  return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
}

// Sends from 127.0.0.1 to itself a destination-unreachable message quoting an echo request
// with the identifier and sequence number given, as a router would about our request.
void SendUnreachableQuoting(int identifier, uint16_t sequence) {
  std::vector<uint8_t> m(8 + 20 + 8, 0);
  m[0] = 3, m[1] = 1;
  uint8_t* ip = &m[8];
  ip[0] = 0x45, ip[3] = 28 + 52, ip[8] = 128, ip[9] = 1;
  ip[12] = ip[16] = 127, ip[15] = ip[19] = 1;
  uint8_t* echo = &m[28];
  echo[0] = 8;
  echo[4] = uint8_t(identifier >> 8), echo[5] = uint8_t(identifier);  // network order
  std::memcpy(echo + 6, &sequence, 2);                                // as we sent it
  m.resize(m.size() + 44, 'E');
  uint32_t sum = 0;
  for (size_t i = 0; i < m.size(); i += 2) sum += m[i] << 8 | m[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  m[2] = uint8_t(~sum >> 8), m[3] = uint8_t(~sum);
  const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
}

std::string Describe(const TReplyStatus& s) {
  std::ostringstream out;
  out << s.SourceAddress << " type " << int(s.IcmpType) << " bytes " << s.ReceivedBytes << " ttl "
      << int(s.Ttl) << " seq " << s.SequenceNumber << " outcome " << int(s.Outcome);
  return out.str();
}

#define SKIP_IF_ASKED(report) \
  if ((report).rfind("SKIP: ", 0) == 0) GTEST_SKIP() << (report)

TEST(ProbeLoopback, AnswersWithWhicheverSocketTheSystemAllows) {
  int refused = 0;
  try {
    OpenIcmpSocket();
  } catch (const EIdSocketError& e) {
    refused = e.LastError();
  }
  TIdIcmpClient ping;
  std::vector<TReplyStatus> replies;
  ping.OnReply = [&](const TReplyStatus& s) {
    StoreProbeReply(s);
    replies.push_back(s);
  };
  if (refused) {
    // Neither socket: the probe fails with the system's refusal, and the check would stop.
    EXPECT_EQ(refused, kWsaEAcces);
    EXPECT_FALSE(ProbeHost(ping, "127.0.0.1", 5000));
    EXPECT_EQ(ProbeResultText, "Failed");
    EXPECT_THROW(ping.EchoExchange(""), EIdSocketError);
    return;
  }
  EXPECT_TRUE(ProbeHost(ping, "127.0.0.1", 5000));
  EXPECT_TRUE(ProbeSucceeded);
  EXPECT_EQ(ProbeResultText, "127.0.0.1");
  EXPECT_TRUE(ProbeHost(ping, "localhost", 5000));
  EXPECT_EQ(ProbeResultText, "127.0.0.1");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].SequenceNumber, 3489);
  EXPECT_EQ(replies[1].SequenceNumber, 3490);
  EXPECT_EQ(replies[0].Outcome, TReplyOutcome::Echo);
  EXPECT_FALSE(ping.SocketOpen());
}

TEST(ProbeNamespace, EchoAndRawSocketsBothDecodeTheLoopback) {
  const std::string report = InNewNetwork([] {
    BringLoopbackUp();
    std::string out;
    // Raw (we run as root here): the first datagram is our own request.
    TIdIcmpClient raw;
    raw.SetSocketFactory([] { return OpenIcmpSocket(TIcmpSocketKind::Raw); });
    raw.Host = "127.0.0.1";
    raw.EchoExchange("");
    out += "raw: " + Describe(raw.ReplyStatus()) + "\n";
    // Echo socket, chosen by the default factory once the system allows it: only the reply
    // comes back, and the IP header is rebuilt from what the kernel reports.
    AllowEchoSockets();
    TIdIcmpClient echo;
    echo.Host = "127.0.0.1";
    echo.EchoExchange("", 4000);
    out += "echo: " + Describe(echo.ReplyStatus());
    return out;
  });
  SKIP_IF_ASKED(report);
  EXPECT_EQ(report,
            "raw: 127.0.0.1 type 8 bytes 72 ttl 128 seq 3489 outcome 0\n"
            "echo: 127.0.0.1 type 0 bytes 72 ttl 64 seq 4000 outcome 0");
}

TEST(ProbeNamespace, SilentHostEndsAfterTheTimeOut) {
  const std::string report = InNewNetwork([] {
    BringLoopbackUp();
    AllowEchoSockets();
    WriteSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
    TIdIcmpClient ping;
    ping.OnReply = StoreProbeReply;
    const bool done = ProbeHost(ping, "127.0.0.1", 300);
    return std::to_string(done) + " " + std::to_string(ProbeSucceeded) + " " + ProbeResultText +
           " " + std::to_string(ping.ReplyStatus().Outcome == TReplyOutcome::TimedOut) + " " +
           std::to_string(ping.ReplyStatus().ReplyTimeMs >= 300);
  });
  SKIP_IF_ASKED(report);
  EXPECT_EQ(report, "1 1 0.0.0.0 1 1");
}

TEST(ProbeNamespace, NoSocketAllowedFailsWithAccessDenied) {
  const std::string report = InNewNetwork([] {
    BringLoopbackUp();
    WriteSetting("/proc/sys/net/ipv4/ping_group_range", "1 0");
    DropRawSocketRight();
    TIdIcmpClient ping;
    ping.OnReply = StoreProbeReply;
    std::string out = std::to_string(ProbeHost(ping, "127.0.0.1", 5000)) + " " + ProbeResultText;
    try {
      ping.EchoExchange("");
    } catch (const EIdSocketError& e) {
      out += std::string(" | ") + e.what();
    }
    return out + " | " + std::to_string(ping.SequenceCounter);
  });
  SKIP_IF_ASKED(report);
  EXPECT_EQ(report, "0 Failed | Socket Error # 10013\r\nAccess denied. | 3489");
}

TEST(ProbeNamespace, UnreachableQuotingOurRequestEndsTheWaitOnTheEchoSocket) {
  const std::string report = InNewNetwork([] {
    BringLoopbackUp();
    AllowEchoSockets();
    WriteSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
    // A helper process plays the router: once the probe's socket has sent, it answers with a
    // destination-unreachable about the request. The kernel files that in the socket's error
    // queue, which the probe must read as the error message it was.
    const pid_t router = fork();
    if (router == 0) {
      for (int tries = 0; tries < 5000; ++tries) {
        if (const int port = EchoSocketPort()) {
          SendUnreachableQuoting(port, 3489);
          _exit(0);
        }
        usleep(2000);
      }
      _exit(1);
    }
    TIdIcmpClient ping;
    ping.OnReply = StoreProbeReply;
    const bool done = ProbeHost(ping, "127.0.0.1", 20000);
    int status = 0;
    waitpid(router, &status, 0);
    return std::to_string(done) + " " + ProbeResultText + " | " + Describe(ping.ReplyStatus());
  });
  SKIP_IF_ASKED(report);
  EXPECT_EQ(report, "1 127.0.0.1 | 127.0.0.1 type 3 bytes 100 ttl 64 seq 3489 outcome 3");
}

TEST(ProbeNamespace, Ipv6LoopbackAnswersAndAWaitingHandlerStopsTheWait) {
  const std::string report = InNewNetwork([] {
    BringLoopbackUp();
    AllowEchoSockets();
    std::string out;
    // ICMPv6 on either socket, read in the same shape as ICMP.
    for (const TIcmpSocketKind kind : {TIcmpSocketKind::Raw, TIcmpSocketKind::Echo}) {
      TIdIcmpClient ping;
      ping.SetSocketFactory([kind](int family) { return OpenIcmpSocket(kind, family); });
      ping.Host = "::1";
      ping.EchoExchange("");
      out += Describe(ping.ReplyStatus()) + "\n";
    }
    // A silent host: the wait goes in slices, and the handler ends it.
    WriteSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
    TIdIcmpClient silent;
    int waits = 0;
    silent.OnWaiting = [&] { return ++waits < 4; };
    const auto start = std::chrono::steady_clock::now();
    const bool done = ProbeHost(silent, "127.0.0.1", 5000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    return out + std::to_string(done) + " " + ProbeErrorText + " " + std::to_string(waits) + " " +
           std::to_string(ms < 1000);
  });
  SKIP_IF_ASKED(report);
  EXPECT_EQ(report,
            "::1 type 8 bytes 72 ttl 128 seq 3489 outcome 0\n"
            "::1 type 0 bytes 72 ttl 64 seq 3489 outcome 0\n"
            "0 The probe was stopped. 4 1");
}

}  // namespace
}  // namespace vorn
