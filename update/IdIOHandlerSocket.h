// One blocking TCP socket, IPv4 or IPv6. Every wait is bounded: connects by their time-out, reads
// and sends by the time-out the caller passes, so a dead peer can never hang the program.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <functional>
#include <string>

#include "Fd.h"

namespace vorn {

// Runs while a call waits for the peer, at least every kIdWaitSliceMs; it may close the socket
// (an abort), which ends the wait with EIdNotConnected.
using TIdWaitTick = std::function<void()>;
inline constexpr int kIdWaitSliceMs = 50;

class TIdIOHandlerSocket {
 public:
  TIdIOHandlerSocket() = default;
  ~TIdIOHandlerSocket();  // closes without reports
  TIdIOHandlerSocket(const TIdIOHandlerSocket&) = delete;
  TIdIOHandlerSocket& operator=(const TIdIOHandlerSocket&) = delete;

  // Creates the socket of the family (AF_INET or AF_INET6); raises EIdSocketError.
  void Open(int family = AF_INET);
  // Connects to a numeric IPv4 or IPv6 address of the socket's family; waits at most timeoutMs (<=
  // 0: the system's own limit). On failure the socket is closed and EIdSocketError raised
  // (kWsaETimedOut when the time is up).
  void ConnectTo(const std::string& address, int port, int timeoutMs, const TIdWaitTick& tick = {});
  // Listens on the local address of `like` (an open, connected socket) on a free port;
  // returns that port. Used by the active transfer form.
  int ListenLike(const TIdIOHandlerSocket& like);
  // Accepts one connection on a listening socket and takes it over; closes the listener.
  void AcceptOne(int timeoutMs);

  // Receives up to `size` bytes; 0 means the peer closed. Waits at most timeoutMs for the
  // first byte (<= 0: no limit) and raises EIdSocketError kWsaETimedOut when the time is up.
  std::size_t Recv(char* buffer, std::size_t size, int timeoutMs, const TIdWaitTick& tick = {});
  // Sends what one call takes (at least 1 byte); raises EIdSocketError.
  std::size_t Send(const char* data, std::size_t size, int timeoutMs, const TIdWaitTick& tick = {});
  // Whether the peer has closed: a look without waiting and without consuming.
  bool PeerHasClosed() const;

  void Close();
  bool Connected() const { return fd_.ok(); }
  // The numeric local address of a connected socket (dotted for IPv4).
  std::string LocalAddress() const;
  // The numeric address of the peer of a connected socket.
  std::string PeerAddress() const;
  // AF_INET or AF_INET6 for an open socket.
  int Family() const { return family_; }

 private:
  // Waits until the socket is ready for events; false when a tick closed it meanwhile.
  bool WaitFor(short events, int timeoutMs, const TIdWaitTick& tick) const;
  Fd fd_;
  int family_ = 0;
};

}  // namespace vorn
