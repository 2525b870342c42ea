// The echo client: sends one ICMP echo request to a host and waits for the matching reply.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "IcmpSocket.h"
#include "IdException.h"

namespace vorn {

// "Not enough bytes received", "Non-echo type response received".
class EIdIcmpException : public EIdException {
 public:
  explicit EIdIcmpException(const std::string& message) : EIdException(message) {}
};

enum class TReplyOutcome { Echo, Error, TimedOut, Unreachable, TtlExceeded };

// What one exchange ended with; handed to OnReply.
struct TReplyStatus {
  int32_t ReceivedBytes = 0;  // datagram size, IP header included; 0 on time-out
  std::string SourceAddress = "0.0.0.0";
  uint8_t IcmpType = 0;
  uint16_t SequenceNumber = 0;
  uint32_t ReplyTimeMs = 0;  // from just before sending to the end of the wait
  uint8_t Ttl = 0;
  TReplyOutcome Outcome = TReplyOutcome::TimedOut;
};

constexpr size_t kEchoRequestSize = 52;
using TEchoRequest = std::array<uint8_t, kEchoRequestSize>;

// Milliseconds of the monotonic clock, low 32 bits.
uint32_t MillisecondTicks();
// Milliseconds from an earlier tick value to a later one, across one wrap of the counter.
uint32_t TicksBetween(uint32_t earlier, uint32_t later);

// The Internet checksum of the message with its checksum field taken as zero, 16-bit words
// summed in host order and stored in host order.
uint16_t EchoChecksum(std::span<const uint8_t, kEchoRequestSize> message);

// The 52-byte echo request: type 8, code 0, checksum, identifier, sequence number, originate
// time, 8 zero bytes, then up to 32 bytes of the data text padded with "E". Multi-byte fields
// are in host order.
TEchoRequest BuildEchoRequest(const std::string& data, uint16_t identifier, uint16_t sequence,
                              uint32_t originateTime);

// Reads one received datagram (IP header first). Returns true when it ends the wait: an empty
// datagram (the time-out values) or an echo, unreachable or time-exceeded message that carries
// the expected sequence number, whose details then go into status. Returns false for anything
// else that is to be skipped. Raises EIdIcmpException for a datagram too short for its headers
// and for any other ICMP type.
bool DecodeReply(std::span<const uint8_t> datagram, uint16_t expectedSequence,
                 TReplyStatus& status);

class TIdIcmpClient {
 public:
  using TSocketFactory = std::function<std::unique_ptr<TIcmpSocket>()>;
  // For the family of the address sent to (AF_INET or AF_INET6).
  using TFamilySocketFactory = std::function<std::unique_ptr<TIcmpSocket>(int family)>;
  using TTickSource = std::function<uint32_t()>;

  TIdIcmpClient();

  std::string Host;
  int ReceiveTimeout = 5000;
  int Port = 0;
  int TimeToLive = 128;
  uint16_t SequenceCounter = 3489;  // the next request's; advances after a completed exchange
  std::function<void(const TReplyStatus&)> OnReply;
  // When set, the look-up and the wait run in slices of kIdWaitSliceMs and this runs after
  // each: a handler may pump GUI events; false gives the exchange up with EIdIcmpException
  // "The probe was stopped.".
  std::function<bool()> OnWaiting;

  // One exchange: build and send the request to Host, wait up to ReceiveTimeout for the
  // matching reply, close the socket, raise OnReply, advance SequenceCounter. A sequence other
  // than 0 replaces SequenceCounter first. A time-out completes the exchange; errors (name
  // resolution, sockets, undecodable replies) are raised, and then OnReply is not raised, the
  // counter stays and the socket stays open for the next exchange.
  void EchoExchange(const std::string& data, uint16_t sequence = 0);

  const TReplyStatus& ReplyStatus() const { return status_; }
  bool SocketOpen() const { return socket_ != nullptr; }

  // Seams: where the socket and the clock come from (the system's by default).
  void SetSocketFactory(TSocketFactory factory) {
    socketFactory_ = [factory = std::move(factory)](int) { return factory(); };
  }
  void SetSocketFactory(TFamilySocketFactory factory) { socketFactory_ = std::move(factory); }
  void SetTickSource(TTickSource ticks) { ticks_ = std::move(ticks); }

 private:
  void SendEchoRequest(const TEchoRequest& request);
  void WaitForEchoReply();
  // Runs OnWaiting; raises when it gives the exchange up.
  void Tick();

  TFamilySocketFactory socketFactory_;
  int socketFamily_ = 0;
  TTickSource ticks_;
  std::unique_ptr<TIcmpSocket> socket_;
  std::array<uint8_t, 1024> receiveBuffer_{};
  TReplyStatus status_;
};

}  // namespace vorn
