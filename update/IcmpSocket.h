// The ICMP socket under the echo client, behind a small interface so tests can script what
// arrives. Whatever kind of socket is open, a received datagram starts with an IPv4 header, so
// the reply decoder reads the same bytes from either; an ICMPv6 socket hands its messages on
// in that same shape (an echo reply as type 0, an unreachable as 3, a time exceeded as 11).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace vorn {

class TIcmpSocket {
 public:
  virtual ~TIcmpSocket() = default;
  // The IP time-to-live of what this socket sends.
  virtual void SetTtl(int ttl) = 0;
  // Sends one ICMP message to a dotted address; raises EIdSocketError on failure.
  virtual void SendTo(const std::string& address, int port, std::span<const uint8_t> message) = 0;
  // Waits up to timeoutMs (0 or less: only looks) for one datagram and copies it, IP header
  // first, into buffer; returns its size, cut to the buffer, or 0 when none came. A failing
  // receive raises EIdSocketError.
  virtual int Receive(std::span<uint8_t> buffer, int timeoutMs) = 0;
  // The sender of the last datagram received, where the datagram's IPv4 header cannot hold it
  // (an IPv6 one); empty otherwise.
  virtual std::string LastSource() const { return {}; }
};

enum class TIcmpSocketKind {
  Echo,  // SOCK_DGRAM/IPPROTO_ICMP: allowed by net.ipv4.ping_group_range, no rights needed
  Raw,   // SOCK_RAW/IPPROTO_ICMP: needs CAP_NET_RAW
};

// Opens one socket of the given kind, for ICMP (family AF_INET) or ICMPv6 (AF_INET6); raises
// EIdSocketError when the system refuses it (kWsaEAcces "Access denied." when the user may
// not have it).
std::unique_ptr<TIcmpSocket> OpenIcmpSocket(TIcmpSocketKind kind, int family = 2 /* AF_INET */);

// Opens the echo socket where the system allows it, else the raw socket. When neither is
// allowed the raw socket's error is raised.
std::unique_ptr<TIcmpSocket> OpenIcmpSocket(int family = 2 /* AF_INET */);

}  // namespace vorn
