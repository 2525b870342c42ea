#include "IcmpSocket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "Fd.h"
#include "IdException.h"

namespace vorn {
namespace {

// A receive header over one buffer, with room for the sender's address and control data.
template <class Address, size_t N>
msghdr MessageHeader(Address& from, iovec& iov, std::array<char, N>& control) {
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control.data();
  msg.msg_controllen = control.size();
  return msg;
}

constexpr int kIpHeaderSize = 20;

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// A plain IPv4 header (no options) in network order, for what an echo socket hands back
// without one.
void WriteIpHeader(uint8_t* at, size_t totalLength, uint8_t ttl, in_addr source, in_addr target) {
  std::memset(at, 0, kIpHeaderSize);
  at[0] = 0x45;
  const uint16_t length = htons(static_cast<uint16_t>(std::min<size_t>(totalLength, 0xFFFF)));
  std::memcpy(at + 2, &length, 2);
  at[8] = ttl;
  at[9] = IPPROTO_ICMP;
  std::memcpy(at + 12, &source, 4);
  std::memcpy(at + 16, &target, 4);
}

// The TTL or hop limit the kernel attached to a received datagram (IP_RECVTTL,
// IPV6_RECVHOPLIMIT), 0 when it gave none.
uint8_t HopsOf(msghdr& msg, int level, int type) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == level && c->cmsg_type == type) {
      int hops = 0;
      std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
      return static_cast<uint8_t>(hops);
    }
  }
  return 0;
}
uint8_t TtlOf(msghdr& msg) { return HopsOf(msg, IPPROTO_IP, IP_TTL); }

// Sends one datagram to an address of either family.
template <class Address>
void SendDatagram(int fd, const Address& to, std::span<const uint8_t> message) {
  if (sendto(fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to) < 0)
    RaiseLastSocketError();
}

// Waits until the socket has something to read or the deadline passes: its poll events, or 0
// once the time is up. A signal is no reason to end the wait early.
short WaitReadable(int fd, int64_t deadline) {
  for (;;) {
    const int64_t left = std::max<int64_t>(deadline - MonotonicMs(), 0);
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      RaiseLastSocketError();
    }
    return ready == 0 ? short{0} : p.revents;
  }
}

class TIcmpPosixSocket final : public TIcmpSocket {
 public:
  TIcmpPosixSocket(Fd fd, TIcmpSocketKind kind) : fd_(std::move(fd)), kind_(kind) {}
  TIcmpPosixSocket(const TIcmpPosixSocket&) = delete;
  TIcmpPosixSocket& operator=(const TIcmpPosixSocket&) = delete;

  void SetTtl(int ttl) override {
    if (setsockopt(fd_.fd(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) RaiseLastSocketError();
  }

  void SendTo(const std::string& address, int port, std::span<const uint8_t> message) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) throw EIdSocketError(kWsaEInval);
    SendDatagram(fd_.fd(), to, message);
  }

  int Receive(std::span<uint8_t> buffer, int timeoutMs) override {
    const int64_t deadline = MonotonicMs() + std::max(timeoutMs, 0);
    for (;;) {
      const short events = WaitReadable(fd_.fd(), deadline);
      if (events == 0) return 0;
      if (kind_ == TIcmpSocketKind::Echo && (events & POLLERR)) {
        const int n = ReadErrorQueue(buffer);
        if (n > 0) return n;
        if (n == 0) continue;
      }
      const int n = kind_ == TIcmpSocketKind::Raw ? ReceiveRaw(buffer) : ReceiveEcho(buffer);
      if (n > 0) return n;
      if (MonotonicMs() >= deadline) return 0;
    }
  }

 private:
  // A datagram as the raw socket gives it, IP header included; 0 when the poll was spurious.
  int ReceiveRaw(std::span<uint8_t> buffer) {
    const ssize_t n = recv(fd_.fd(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
      RaiseLastSocketError();
    }
    return static_cast<int>(n);
  }

  // An echo socket gives the ICMP message alone: put back the IP header with the sender's
  // address and the TTL the kernel reports, so the datagram reads as it would from a raw one.
  int ReceiveEcho(std::span<uint8_t> buffer) {
    if (buffer.size() <= kIpHeaderSize) return 0;
    sockaddr_in from{};
    alignas(cmsghdr) std::array<char, 256> control{};
    iovec iov{buffer.data() + kIpHeaderSize, buffer.size() - kIpHeaderSize};
    msghdr msg = MessageHeader(from, iov, control);
    const ssize_t n = recvmsg(fd_.fd(), &msg, MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
      RaiseLastSocketError();
    }
    const size_t length = std::min(static_cast<size_t>(n), iov.iov_len);
    WriteIpHeader(buffer.data(), kIpHeaderSize + length, TtlOf(msg), from.sin_addr, in_addr{});
    return static_cast<int>(kIpHeaderSize + length);
  }

  // The kernel hands ICMP errors about an echo socket's requests to its error queue, not to
  // its data. Rebuild the error message as it came over the wire: the sender's IP header, the
  // ICMP type and code, then the quoted request behind an IP header of its own. Returns 0 for
  // a queued error that did not come from an ICMP message, -1 when the queue was empty.
  int ReadErrorQueue(std::span<uint8_t> buffer) {
    std::array<uint8_t, 1024> quoted{};
    sockaddr_in target{};
    alignas(cmsghdr) std::array<char, 512> control{};
    iovec iov{quoted.data(), quoted.size()};
    msghdr msg = MessageHeader(target, iov, control);
    const ssize_t n = recvmsg(fd_.fd(), &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) return -1;
    const sock_extended_err* ee = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) {
        ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
      }
    }
    if (!ee || ee->ee_origin != SO_EE_ORIGIN_ICMP) return 0;
    sockaddr_in offender{};
    std::memcpy(&offender, SO_EE_OFFENDER(ee), sizeof offender);
    const size_t quotedLength = std::min(static_cast<size_t>(n), quoted.size());
    std::array<uint8_t, 2 * kIpHeaderSize + 8 + 1024> whole{};
    const size_t total = 2 * kIpHeaderSize + 8 + quotedLength;
    WriteIpHeader(whole.data(), total, TtlOf(msg), offender.sin_addr, in_addr{});
    whole[kIpHeaderSize] = ee->ee_type;
    whole[kIpHeaderSize + 1] = ee->ee_code;
    WriteIpHeader(whole.data() + kIpHeaderSize + 8, kIpHeaderSize + quotedLength, 0, in_addr{},
                  target.sin_addr);
    std::memcpy(whole.data() + std::size_t{2} * kIpHeaderSize + 8, quoted.data(), quotedLength);
    const size_t length = std::min(total, buffer.size());
    std::memcpy(buffer.data(), whole.data(), length);
    return static_cast<int>(length);
  }

  Fd fd_;
  TIcmpSocketKind kind_;
};

// ICMPv6 types and their ICMP counterparts, as the decoder reads them.
uint8_t AsIcmpType(uint8_t type6) {
  switch (type6) {
    case ICMP6_ECHO_REPLY:
      return 0;
    case ICMP6_ECHO_REQUEST:
      return 8;
    case ICMP6_DST_UNREACH:
      return 3;
    case ICMP6_TIME_EXCEEDED:
      return 11;
    default:
      return 255;  // no type the decoder takes
  }
}

constexpr int kIp6HeaderSize = 40;

class TIcmp6PosixSocket final : public TIcmpSocket {
 public:
  explicit TIcmp6PosixSocket(Fd fd) : fd_(std::move(fd)) {}
  TIcmp6PosixSocket(const TIcmp6PosixSocket&) = delete;
  TIcmp6PosixSocket& operator=(const TIcmp6PosixSocket&) = delete;

  void SetTtl(int ttl) override {
    if (setsockopt(fd_.fd(), IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl) != 0)
      RaiseLastSocketError();
  }

  void SendTo(const std::string& address, int port, std::span<const uint8_t> message) override {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET6, address.c_str(), &to.sin6_addr) != 1) throw EIdSocketError(kWsaEInval);
    // The same request as an ICMPv6 echo request; the system works out its checksum.
    std::vector<uint8_t> request(message.begin(), message.end());
    if (request.size() >= 4) {
      request[0] = ICMP6_ECHO_REQUEST;
      request[2] = request[3] = 0;
    }
    SendDatagram(fd_.fd(), to, request);
  }

  int Receive(std::span<uint8_t> buffer, int timeoutMs) override {
    const int64_t deadline = MonotonicMs() + std::max(timeoutMs, 0);
    for (;;) {
      const short events = WaitReadable(fd_.fd(), deadline);
      if (events == 0) return 0;
      if (events & POLLERR) {
        // An error about the request on an echo socket: nothing the wait can match, skipped.
        std::array<uint8_t, 512> ignored{};
        if (recv(fd_.fd(), ignored.data(), ignored.size(), MSG_ERRQUEUE | MSG_DONTWAIT) >= 0)
          continue;
      }
      const int n = ReceiveOne(buffer);
      if (n > 0) return n;
      if (MonotonicMs() >= deadline) return 0;
    }
  }

  std::string LastSource() const override { return source_; }

 private:
  // One ICMPv6 message rebuilt in the ICMP layout behind an IPv4 header; errors quote the
  // request behind an IPv4 header of their own. 0 when nothing came or the message is cut.
  int ReceiveOne(std::span<uint8_t> buffer) {
    std::array<uint8_t, 1280> message{};
    sockaddr_in6 from{};
    alignas(cmsghdr) std::array<char, 256> control{};
    iovec iov{message.data(), message.size()};
    msghdr msg = MessageHeader(from, iov, control);
    const ssize_t got = recvmsg(fd_.fd(), &msg, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
      RaiseLastSocketError();
    }
    const size_t n = static_cast<size_t>(got);
    if (n < 8) return 0;
    const uint8_t hops = HopsOf(msg, IPPROTO_IPV6, IPV6_HOPLIMIT);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &from.sin6_addr, text, sizeof text);
    source_ = text;
    std::vector<uint8_t> whole(kIpHeaderSize, 0);
    const uint8_t type = AsIcmpType(message[0]);
    if (type == 3 || type == 11) {
      // Type, code and 4 unused bytes, then the quoted IPv6 header and the quoted request.
      if (n < 8 + kIp6HeaderSize + 8) return 0;
      whole.insert(whole.end(), {type, message[1], 0, 0, 0, 0, 0, 0});
      std::vector<uint8_t> quoted(kIpHeaderSize, 0);
      WriteIpHeader(quoted.data(), kIpHeaderSize + n - 8 - kIp6HeaderSize, 0, in_addr{}, in_addr{});
      quoted.insert(quoted.end(), message.begin() + 8 + kIp6HeaderSize, message.begin() + n);
      quoted[kIpHeaderSize] = AsIcmpType(quoted[kIpHeaderSize]);
      whole.insert(whole.end(), quoted.begin(), quoted.end());
    } else {
      whole.insert(whole.end(), message.begin(), message.begin() + n);
      whole[kIpHeaderSize] = type;
    }
    WriteIpHeader(whole.data(), whole.size(), hops, in_addr{}, in_addr{});
    const size_t length = std::min(whole.size(), buffer.size());
    std::memcpy(buffer.data(), whole.data(), length);
    return static_cast<int>(length);
  }

  Fd fd_;
  std::string source_;
};

}  // namespace

std::unique_ptr<TIcmpSocket> OpenIcmpSocket(TIcmpSocketKind kind, int family) {
  if (family == AF_INET6) {
    Fd socketFd(socket(AF_INET6,
                       (kind == TIcmpSocketKind::Echo ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC,
                       IPPROTO_ICMPV6));
    if (!socketFd.ok()) RaiseLastSocketError();
    const int on = 1;
    if (setsockopt(socketFd.fd(), IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0)
      RaiseLastSocketError();
    if (kind == TIcmpSocketKind::Raw) {
      // A raw ICMPv6 socket sees all of the host's ICMPv6 (neighbour discovery too): only what
      // can answer an echo request is let through.
      icmp6_filter filter{};
      ICMP6_FILTER_SETBLOCKALL(&filter);
      for (const int type :
           {ICMP6_ECHO_REPLY, ICMP6_ECHO_REQUEST, ICMP6_DST_UNREACH, ICMP6_TIME_EXCEEDED})
        ICMP6_FILTER_SETPASS(type, &filter);
      if (setsockopt(socketFd.fd(), IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0)
        RaiseLastSocketError();
    }
    return std::make_unique<TIcmp6PosixSocket>(std::move(socketFd));
  }
  const int type = kind == TIcmpSocketKind::Echo ? SOCK_DGRAM : SOCK_RAW;
  Fd socketFd(socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!socketFd.ok()) RaiseLastSocketError();
  const int fd = socketFd.fd();
  auto opened = std::make_unique<TIcmpPosixSocket>(std::move(socketFd), kind);
  if (kind == TIcmpSocketKind::Echo) {
    const int on = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
      RaiseLastSocketError();
    }
  }
  return opened;
}

std::unique_ptr<TIcmpSocket> OpenIcmpSocket(int family) {
  try {
    return OpenIcmpSocket(TIcmpSocketKind::Echo, family);
  } catch (const EIdSocketError&) {
    return OpenIcmpSocket(TIcmpSocketKind::Raw, family);
  }
}

}  // namespace vorn
