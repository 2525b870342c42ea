#include "IdIOHandlerSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "IdException.h"
#include "ScopeExit.h"

namespace vorn {

namespace {

[[noreturn]] void Raise(int posixErrno) { throw EIdSocketError(SocketErrorNumber(posixErrno)); }

// A numeric address of the family and a port as a socket address; false for a text that is
// not one.
bool ToSocketAddress(int family, const std::string& address, int port, sockaddr_storage& out,
                     socklen_t& length) {
  if (family == AF_INET6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof v6;
    return inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1;
  }
  auto& v4 = reinterpret_cast<sockaddr_in&>(out);
  v4.sin_family = AF_INET;
  v4.sin_port = htons(static_cast<uint16_t>(port));
  length = sizeof v4;
  return inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1;
}

std::string Numeric(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    // An IPv4 peer seen through an IPv6 socket is named as the IPv4 address it is.
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
      inet_ntop(AF_INET, v6.sin6_addr.s6_addr + 12, text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
  } else {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  }
  return text;
}

}  // namespace

TIdIOHandlerSocket::~TIdIOHandlerSocket() { Close(); }

void TIdIOHandlerSocket::Open(int family) {
  Close();
  fd_.Reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!fd_.ok()) RaiseLastSocketError();
  family_ = family;
}

void TIdIOHandlerSocket::Close() { fd_.Reset(); }

bool TIdIOHandlerSocket::WaitFor(short events, int timeoutMs, const TIdWaitTick& tick) const {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (;;) {
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (timeoutMs > 0 && waited >= timeoutMs) throw EIdSocketError(kWsaETimedOut);
    int slice = timeoutMs > 0 ? static_cast<int>(timeoutMs - waited) : -1;
    // With a tick the wait is cut into slices, so the tick runs however long the peer is silent.
    if (tick && (slice < 0 || slice > kIdWaitSliceMs)) slice = kIdWaitSliceMs;
    pollfd p{fd_.fd(), events, 0};
    const int rc = ::poll(&p, 1, slice);
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) RaiseLastSocketError();
    if (rc == 0 && tick) {
      tick();
      if (!fd_.ok()) return false;
    }
  }
}

void TIdIOHandlerSocket::ConnectTo(const std::string& address, int port, int timeoutMs,
                                   const TIdWaitTick& tick) {
  ScopeExit closeOnFailure([this] { Close(); });
  sockaddr_storage to{};
  socklen_t length = 0;
  if (port < 0 || port > 65535 || !ToSocketAddress(family_, address, port, to, length)) {
    throw EIdSocketError(kWsaEAddrNotAvail);
  }
  // A non-blocking connect lets the time-out bound the wait; the socket turns blocking again.
  const int flags = ::fcntl(fd_.fd(), F_GETFL);
  if (flags < 0 || ::fcntl(fd_.fd(), F_SETFL, flags | O_NONBLOCK) < 0) RaiseLastSocketError();
  if (::connect(fd_.fd(), reinterpret_cast<const sockaddr*>(&to), length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) RaiseLastSocketError();
    if (!WaitFor(POLLOUT, timeoutMs, tick)) throw EIdNotConnected();
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd_.fd(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) RaiseLastSocketError();
    if (error != 0) Raise(error);
  }
  if (::fcntl(fd_.fd(), F_SETFL, flags) < 0) RaiseLastSocketError();
  closeOnFailure.Dismiss();
}

int TIdIOHandlerSocket::ListenLike(const TIdIOHandlerSocket& like) {
  sockaddr_storage local{};
  socklen_t len = sizeof local;
  if (::getsockname(like.fd_.fd(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    RaiseLastSocketError();
  }
  Open(local.ss_family);
  ScopeExit closeOnFailure([this] { Close(); });
  if (local.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6&>(local).sin6_port = 0;
  else
    reinterpret_cast<sockaddr_in&>(local).sin_port = 0;
  if (::bind(fd_.fd(), reinterpret_cast<sockaddr*>(&local), len) != 0 ||
      ::listen(fd_.fd(), 1) != 0 ||
      ::getsockname(fd_.fd(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    RaiseLastSocketError();
  }
  closeOnFailure.Dismiss();
  return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(local).sin6_port
                                           : reinterpret_cast<sockaddr_in&>(local).sin_port);
}

void TIdIOHandlerSocket::AcceptOne(int timeoutMs) {
  int accepted = -1;
  int e = 0;
  {
    // The listener has served its one connection, or failed to: it goes either way.
    ScopeExit closeListener([this] { Close(); });
    WaitFor(POLLIN, timeoutMs, {});
    do {
      accepted = ::accept4(fd_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    e = errno;
  }
  if (accepted < 0) Raise(e);
  fd_.Reset(accepted);
}

std::size_t TIdIOHandlerSocket::Recv(char* buffer, std::size_t size, int timeoutMs,
                                     const TIdWaitTick& tick) {
  if (!fd_.ok()) throw EIdSocketError(kWsaENotSock);
  if (!WaitFor(POLLIN, timeoutMs, tick)) throw EIdNotConnected();
  for (;;) {
    const ssize_t n = ::recv(fd_.fd(), buffer, size, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) RaiseLastSocketError();
  }
}

std::size_t TIdIOHandlerSocket::Send(const char* data, std::size_t size, int timeoutMs,
                                     const TIdWaitTick& tick) {
  if (!fd_.ok()) throw EIdSocketError(kWsaENotSock);
  if (!WaitFor(POLLOUT, timeoutMs, tick)) throw EIdNotConnected();
  for (;;) {
    const ssize_t n = ::send(fd_.fd(), data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) RaiseLastSocketError();
  }
}

bool TIdIOHandlerSocket::PeerHasClosed() const {
  if (!fd_.ok()) return false;
  char byte;
  ssize_t n;
  do {
    n = ::recv(fd_.fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n == 0;
}

std::string TIdIOHandlerSocket::LocalAddress() const {
  sockaddr_storage local{};
  socklen_t len = sizeof local;
  if (::getsockname(fd_.fd(), reinterpret_cast<sockaddr*>(&local), &len) != 0)
    RaiseLastSocketError();
  return Numeric(local);
}

std::string TIdIOHandlerSocket::PeerAddress() const {
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  if (::getpeername(fd_.fd(), reinterpret_cast<sockaddr*>(&peer), &len) != 0)
    RaiseLastSocketError();
  return Numeric(peer);
}

}  // namespace vorn
