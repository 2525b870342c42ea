// The ICMP socket under the echo client, behind a small interface so tests can script what
// arrives. Whatever kind of socket is open, a received datagram starts with an IPv4 header, so
// the reply decoder reads the same bytes from either.
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
};

enum class TIcmpSocketKind {
  Echo,  // SOCK_DGRAM/IPPROTO_ICMP: allowed by net.ipv4.ping_group_range, no rights needed
  Raw,   // SOCK_RAW/IPPROTO_ICMP: needs CAP_NET_RAW
};

// Opens one socket of the given kind; raises EIdSocketError when the system refuses it
// (kWsaEAcces "Access denied." when the user may not have it).
std::unique_ptr<TIcmpSocket> OpenIcmpSocket(TIcmpSocketKind kind);

// Opens the echo socket where the system allows it, else the raw socket. When neither is
// allowed the raw socket's error is raised.
std::unique_ptr<TIcmpSocket> OpenIcmpSocket();

}  // namespace vorn
