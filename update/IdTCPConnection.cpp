#include "IdTCPConnection.h"

#include <algorithm>
#include <cstring>

#include "IdException.h"
#include "IdResolve.h"
#include "ScopeExit.h"

namespace vorn {

TIdTCPConnection::TIdTCPConnection() = default;
TIdTCPConnection::~TIdTCPConnection() = default;

std::string TIdTCPConnection::StatusText(TIdStatus status, const std::string& argument) {
  switch (status) {
    case TIdStatus::Resolving:
      return "Resolving hostname " + argument + ".";
    case TIdStatus::Connecting:
      return "Connecting to " + argument + ".";
    case TIdStatus::Connected:
      return "Connected.";
    case TIdStatus::Disconnecting:
      return "Disconnecting.";
    case TIdStatus::Disconnected:
      return "Disconnected.";
    default:
      return argument;
  }
}

void TIdTCPConnection::DoStatus(TIdStatus status, const std::string& argument) {
  if (OnStatus) OnStatus(*this, status, StatusText(status, argument));
}

void TIdTCPConnection::Waiting() {
  if (OnWaiting) OnWaiting(*this);
}

bool TIdTCPConnection::DeadlinePassed() const {
  const auto now = std::chrono::steady_clock::now();
  return (Deadline && now >= *Deadline) || (replyDeadline_ && now >= *replyDeadline_);
}

void TIdTCPConnection::Tick() {
  Waiting();
  if (connecting_ && callOffOpening_) throw EIdNotConnected();
  if (DeadlinePassed()) throw EIdSocketError(kWsaETimedOut);
}

void TIdTCPConnection::BeginWork(TWorkMode mode, std::int64_t expectedTotal) {
  WorkState& w = Work(mode);
  if (++w.level == 1) {
    w.count = 0;
    w.total = expectedTotal;
    if (OnWorkBegin) OnWorkBegin(*this, mode, expectedTotal);
  }
}

void TIdTCPConnection::DoWork(TWorkMode mode, std::int64_t count) {
  WorkState& w = Work(mode);
  if (w.level >= 1) {
    w.count += count;
    if (OnWork) OnWork(*this, mode, w.count);
  }
}

void TIdTCPConnection::EndWork(TWorkMode mode) {
  WorkState& w = Work(mode);
  if (w.level == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
  if (w.level > 0) --w.level;
}

void TIdTCPConnection::ConnectTo(const std::string& host, int port, int timeoutMs) {
  if (socket_.Connected() || connecting_) throw EIdAlreadyConnected();
  connecting_ = true;
  callOffOpening_ = false;
  ScopeExit opened([this] { connecting_ = false; });
  ScopeExit closeOnFailure([this] { socket_.Close(); });
  if (!IsAddressLiteral(host)) DoStatus(TIdStatus::Resolving, host);
  const std::vector<std::string> addresses = ResolveHostAddresses(host, WaitTick());
  // Each address in turn, in the resolver's order, until one takes the connection; the last
  // one's failure is the one raised.
  for (std::size_t i = 0;; ++i) {
    if (callOffOpening_) throw EIdNotConnected();
    DoStatus(TIdStatus::Connecting, addresses[i]);
    try {
      socket_.Open(AddressFamily(addresses[i]));
      socket_.ConnectTo(addresses[i], port, timeoutMs, WaitTick());
      break;
    } catch (const EIdSocketError&) {
      socket_.Close();
      if (i + 1 == addresses.size() || callOffOpening_ || DeadlinePassed()) throw;
    }
  }
  closeOnFailure.Dismiss();
  closedByPeer_ = false;
  head_ = tail_ = 0;
  if (Intercept) Intercept->Connect();
  DoStatus(TIdStatus::Connected);
  if (OnConnected) OnConnected(*this);
}

int TIdTCPConnection::Listen(TIdTCPConnection& like) {
  if (socket_.Connected()) throw EIdAlreadyConnected();
  return socket_.ListenLike(like.socket_);
}

void TIdTCPConnection::Accept(int timeoutMs) {
  socket_.AcceptOne(timeoutMs);
  closedByPeer_ = false;
  head_ = tail_ = 0;
  if (Intercept) Intercept->Connect();
  DoStatus(TIdStatus::Connected);
  if (OnConnected) OnConnected(*this);
}

void TIdTCPConnection::Disconnect() {
  if (connecting_) callOffOpening_ = true;
  if (!socket_.Connected()) return;
  DoStatus(TIdStatus::Disconnecting);
  if (Intercept) Intercept->Disconnect();
  socket_.Close();
  if (OnDisconnected) OnDisconnected(*this);
  DoStatus(TIdStatus::Disconnected);
}

void TIdTCPConnection::HandlePeerClose() {
  closedByPeer_ = true;
  if (Intercept) Intercept->Disconnect();
  socket_.Close();
  DoStatus(TIdStatus::Disconnected);
  if (OnDisconnected) OnDisconnected(*this);
}

bool TIdTCPConnection::IsConnected() {
  if (socket_.Connected() && socket_.PeerHasClosed()) HandlePeerClose();
  return socket_.Connected();
}

char* TIdTCPConnection::PrepareAppend(std::size_t n) {
  if (head_ == tail_) head_ = tail_ = 0;
  if (capacity_ - tail_ < n && head_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + head_, tail_ - head_);
    tail_ -= head_;
    head_ = 0;
  }
  if (capacity_ - tail_ < n) {
    const std::size_t grown = std::max(capacity_ * 2, tail_ + n);
    auto bigger = std::make_unique_for_overwrite<char[]>(grown);
    if (tail_ > 0) std::memcpy(bigger.get(), buffer_.get(), tail_);
    buffer_ = std::move(bigger);
    capacity_ = grown;
  }
  return buffer_.get() + tail_;
}

void TIdTCPConnection::ReadFromStack() {
  if (!socket_.Connected()) {
    if (closedByPeer_) throw EIdConnClosedGracefully();
    throw EIdNotConnected();
  }
  const std::size_t size = static_cast<std::size_t>(std::max(1, RecvBufferSize));
  char* into = PrepareAppend(size);
  std::size_t n = 0;
  try {
    n = socket_.Recv(into, size, EffectiveReadTimeout(), WaitTick());
  } catch (const EIdSocketError& e) {
    // An abort or a shutdown after the peer's last bytes: keep what came as a normal close.
    if ((e.LastError() == kWsaEConnAborted || e.LastError() == kWsaEShutdown) &&
        InputBufferSize() > 0) {
      HandlePeerClose();
      return;
    }
    throw;
  }
  if (n == 0) {
    HandlePeerClose();
    if (InputBufferSize() == 0) throw EIdConnClosedGracefully();
    return;
  }
  if (Intercept) Intercept->Receive(std::string_view(into, n));
  tail_ += n;
  // A peer that trickles bytes never lets a wait run out: the handler gets its turn here too,
  // and the deadlines are looked at.
  Tick();
}

void TIdTCPConnection::Consume(std::size_t n) {
  head_ += n;
  DoWork(TWorkMode::wmRead, static_cast<std::int64_t>(n));
}

bool TIdTCPConnection::CutLine(std::string_view buffered, int maxLineLength,
                               TIdMaxLineAction action, std::size_t& lineLength,
                               std::size_t& consumed) {
  const std::size_t limit =
      static_cast<std::size_t>(maxLineLength > 0 ? maxLineLength : kIdMaxLineLength);
  // Only the first limit + 1 bytes matter: an LF further in makes the line too long anyway.
  const std::size_t lf = buffered.substr(0, limit + 1).find('\n');
  if (lf != std::string_view::npos) {
    lineLength = lf;
    consumed = lf + 1;
    return true;
  }
  if (buffered.size() <= limit) return false;
  if (action == TIdMaxLineAction::maException) throw EIdReadLnMaxLineLengthExceeded();
  lineLength = consumed = limit;
  return true;
}

std::string TIdTCPConnection::ReadLine() {
  for (;;) {
    std::size_t length = 0, consumed = 0;
    if (CutLine(Buffered(), MaxLineLength, MaxLineAction, length, consumed)) {
      std::string line(Buffered().substr(0, length));
      if (consumed > length && !line.empty() && line.back() == '\r') line.pop_back();
      Consume(consumed);
      return line;
    }
    ReadFromStack();
  }
}

int TIdTCPConnection::ReadReply(const TIdReplyCodes& allowed) {
  if (ReplyTimeout > 0)
    replyDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReplyTimeout);
  ScopeExit replyRead([this] { replyDeadline_.reset(); });
  LastReply.Parse(TIdRFCReply::ReadLines([this] { return ReadLine(); }));
  if (!allowed.empty() &&
      std::find(allowed.begin(), allowed.end(), LastReply.NumericCode) == allowed.end()) {
    throw EIdProtocolReplyError(LastReply.NumericCode, LastReply.FormattedText());
  }
  return LastReply.NumericCode;
}

void TIdTCPConnection::CheckCommand(std::string_view command) {
  // A line break inside would smuggle a second command to the server.
  if (command.find_first_of("\r\n") != std::string_view::npos) {
    throw EIdException("Command not sent: it holds a line break.");
  }
}

int TIdTCPConnection::SendCommand(const std::string& command, const TIdReplyCodes& allowed) {
  CheckCommand(command);
  WriteBytes(command + "\r\n");
  return ReadReply(allowed);
}

void TIdTCPConnection::WriteBytes(std::string_view bytes) {
  if (!socket_.Connected()) throw EIdNotConnected();
  if (Intercept) Intercept->Send(bytes);
  const std::size_t piece = static_cast<std::size_t>(std::max(1, SendBufferSize));
  while (!bytes.empty()) {
    std::size_t sent = 0;
    try {
      sent = socket_.Send(bytes.data(), std::min(bytes.size(), piece), EffectiveReadTimeout(),
                          WaitTick());
    } catch (const EIdSocketError& e) {
      if (e.LastError() == kWsaEConnAborted || e.LastError() == kWsaEConnReset ||
          e.LastError() == kWsaEShutdown) {
        socket_.Close();
      }
      throw;
    }
    bytes.remove_prefix(sent);
    DoWork(TWorkMode::wmWrite, static_cast<std::int64_t>(sent));
  }
}

void TIdTCPConnection::ReadStreamToEnd(TStream& destination) {
  BeginWork(TWorkMode::wmRead, 0);
  ScopeExit endWork([this] { EndWork(TWorkMode::wmRead); });
  if (InputBufferSize() > 0) {
    const std::string_view first = Buffered();
    Consume(first.size());
    destination.Write(first);
  }
  const std::size_t chunk = static_cast<std::size_t>(std::max(1, RecvBufferSize));
  // The socket may also be closed from inside a work event (an abort): the loop then ends.
  while (socket_.Connected()) {
    if (InputBufferSize() < chunk) {
      try {
        ReadFromStack();
      } catch (const EIdConnClosedGracefully&) {
        break;
      } catch (const EIdNotConnected&) {
        break;  // closed from a waiting handler: an abort
      }
      continue;
    }
    const std::string_view piece = Buffered().substr(0, chunk);
    Consume(chunk);
    destination.Write(piece);
  }
  if (closedByPeer_ && InputBufferSize() > 0) {
    // The tail after the last whole chunk: written, but no work step.
    destination.Write(Buffered());
    head_ = tail_ = 0;
  }
}

}  // namespace vorn
