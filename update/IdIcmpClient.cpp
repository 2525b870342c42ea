#include "IdIcmpClient.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "IdResolve.h"

namespace vorn {
namespace {

constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kDestinationUnreachable = 3;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kTimeExceeded = 11;
constexpr size_t kMinIpHeader = 20;
constexpr int kIcmpWaitSliceMs = 50;

uint16_t WordAt(std::span<const uint8_t> bytes, size_t at) {
  uint16_t word = 0;
  std::memcpy(&word, bytes.data() + at, sizeof word);
  return word;
}

TReplyStatus TimedOutStatus(uint16_t sequence) {
  TReplyStatus status;
  status.SequenceNumber = sequence;
  return status;
}

}  // namespace

uint32_t MillisecondTicks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000);
}

uint32_t TicksBetween(uint32_t earlier, uint32_t later) {
  return later >= earlier ? later - earlier : 4294967295u - earlier + later;
}

uint16_t EchoChecksum(std::span<const uint8_t, kEchoRequestSize> message) {
  uint32_t sum = 0;
  for (size_t at = 0; at < kEchoRequestSize; at += 2) {
    if (at != 2) sum += WordAt(message, at);
  }
  sum = (sum >> 16) + (sum & 0xFFFF);
  sum += sum >> 16;
  return static_cast<uint16_t>(~sum);
}

TEchoRequest BuildEchoRequest(const std::string& data, uint16_t identifier, uint16_t sequence,
                              uint32_t originateTime) {
  TEchoRequest request{};
  request[0] = kEchoRequest;
  request[1] = 0;
  std::memcpy(&request[4], &identifier, 2);
  std::memcpy(&request[6], &sequence, 2);
  std::memcpy(&request[8], &originateTime, 4);
  const size_t taken = std::min<size_t>(data.size(), 32);
  std::memcpy(&request[20], data.data(), taken);
  std::fill(request.begin() + 20 + static_cast<std::ptrdiff_t>(taken), request.end(), 'E');
  const uint16_t checksum = EchoChecksum(request);
  std::memcpy(&request[2], &checksum, 2);
  return request;
}

bool DecodeReply(std::span<const uint8_t> datagram, uint16_t expectedSequence,
                 TReplyStatus& status) {
  const size_t n = datagram.size();
  if (n == 0) {
    status = TimedOutStatus(expectedSequence);
    return true;
  }
  status.Outcome = TReplyOutcome::Error;
  const size_t h = 4 * size_t(datagram[0] & 0x0F);
  if (h < kMinIpHeader || n < h + 8) throw EIdIcmpException("Not enough bytes received");
  const uint8_t type = datagram[h];
  TReplyOutcome outcome;
  size_t sequenceAt;
  switch (type) {
    case kEchoReply:
    case kEchoRequest:  // our own request, as a raw socket sees it on the loopback
      outcome = TReplyOutcome::Echo;
      sequenceAt = h + 6;
      break;
    case kDestinationUnreachable:
    case kTimeExceeded: {
      outcome =
          type == kDestinationUnreachable ? TReplyOutcome::Unreachable : TReplyOutcome::TtlExceeded;
      // The error quotes the request that caused it behind its own 8 bytes: the request's IP
      // header, of the length that header gives, then the ICMP message. Only a quoted echo
      // request can be ours; a raw socket also sees the errors about other programs' traffic.
      const size_t quoted = h + 8;
      if (n < quoted + kMinIpHeader) return false;
      const size_t qh = 4 * size_t(datagram[quoted] & 0x0F);
      if (qh < kMinIpHeader || datagram[quoted + 9] != 1 /* ICMP */ || n < quoted + qh + 8)
        return false;
      if (datagram[quoted + qh] != kEchoRequest) return false;
      sequenceAt = quoted + qh + 6;
      break;
    }
    default:
      throw EIdIcmpException("Non-echo type response received");
  }
  const uint16_t sequence = WordAt(datagram, sequenceAt);
  if (sequence != expectedSequence) return false;
  status.ReceivedBytes = static_cast<int32_t>(n);
  status.SourceAddress = std::to_string(datagram[12]) + '.' + std::to_string(datagram[13]) + '.' +
                         std::to_string(datagram[14]) + '.' + std::to_string(datagram[15]);
  status.IcmpType = type;
  status.SequenceNumber = sequence;
  status.Ttl = datagram[8];
  status.Outcome = outcome;
  return true;
}

TIdIcmpClient::TIdIcmpClient()
    : socketFactory_([](int family) { return OpenIcmpSocket(family); }), ticks_(MillisecondTicks) {}

void TIdIcmpClient::Tick() {
  if (OnWaiting && !OnWaiting()) throw EIdIcmpException("The probe was stopped.");
}

void TIdIcmpClient::EchoExchange(const std::string& data, uint16_t sequence) {
  if (sequence != 0) SequenceCounter = sequence;
  const TEchoRequest request =
      BuildEchoRequest(data, static_cast<uint16_t>(getpid() & 0xFFFF), SequenceCounter, ticks_());
  const uint32_t start = ticks_();
  SendEchoRequest(request);
  WaitForEchoReply();
  status_.ReplyTimeMs = TicksBetween(start, ticks_());
  socket_.reset();
  if (OnReply) OnReply(status_);
  ++SequenceCounter;
}

void TIdIcmpClient::SendEchoRequest(const TEchoRequest& request) {
  const std::string address = OnWaiting ? ResolveHost(Host, [this] { Tick(); }) : ResolveHost(Host);
  const int family = AddressFamily(address);
  // A socket left open by a failed exchange to a host of the other family is of no use.
  if (socket_ && family != socketFamily_) socket_.reset();
  if (!socket_) {
    socket_ = socketFactory_(family);
    socketFamily_ = family;
    if (!socket_) throw EIdSocketError(kWsaENotSock);
  }
  socket_->SetTtl(TimeToLive);
  socket_->SendTo(address, Port, request);
}

void TIdIcmpClient::WaitForEchoReply() {
  receiveBuffer_.fill(0);
  const uint32_t began = ticks_();
  int64_t remaining = ReceiveTimeout;
  for (;;) {
    // With a waiting handler the wait goes in slices, the handler running between them.
    int wait = static_cast<int>(std::max<int64_t>(remaining, 0));
    if (OnWaiting) wait = std::min(wait, kIcmpWaitSliceMs);
    const int n = socket_->Receive(receiveBuffer_, wait);
    const size_t size = std::min(static_cast<size_t>(std::max(n, 0)), receiveBuffer_.size());
    // A slice that ended without a datagram is no time-out while time is left.
    const bool sliceOver =
        size == 0 && OnWaiting && int64_t{TicksBetween(began, ticks_())} < int64_t{ReceiveTimeout};
    if (!sliceOver && DecodeReply(std::span<const uint8_t>(receiveBuffer_.data(), size),
                                  SequenceCounter, status_)) {
      if (size > 0 && !socket_->LastSource().empty()) status_.SourceAddress = socket_->LastSource();
      return;
    }
    status_ = TimedOutStatus(SequenceCounter);
    remaining = int64_t{ReceiveTimeout} - int64_t{TicksBetween(began, ticks_())};
    if (remaining <= 0) return;
    Tick();
  }
}

}  // namespace vorn
