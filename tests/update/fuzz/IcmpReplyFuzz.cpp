// Fuzz entry for the echo probe's reply decoder: the first two bytes are the expected
// sequence number, the rest the received datagram. A datagram either ends the wait with
// details that match it, is skipped, or is refused with the probe's own exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "IdIcmpClient.h"

namespace vorn {
namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace
}  // namespace vorn

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::uint16_t expected = 0;
  std::memcpy(&expected, data, 2);
  const std::span<const std::uint8_t> datagram(data + 2, size - 2);
  vorn::TReplyStatus status;
  bool ends = false;
  try {
    ends = vorn::DecodeReply(datagram, expected, status);
  } catch (const vorn::EIdIcmpException&) {
    vorn::Check(!datagram.empty());
    return 0;
  }
  if (!ends) return 0;
  vorn::Check(status.SequenceNumber == expected);
  if (datagram.empty()) {
    vorn::Check(status.Outcome == vorn::TReplyOutcome::TimedOut && status.ReceivedBytes == 0);
    return 0;
  }
  vorn::Check(status.ReceivedBytes == static_cast<std::int32_t>(datagram.size()));
  vorn::Check(status.Outcome == vorn::TReplyOutcome::Echo ||
              status.Outcome == vorn::TReplyOutcome::Unreachable ||
              status.Outcome == vorn::TReplyOutcome::TtlExceeded);
  vorn::Check(status.IcmpType == 0 || status.IcmpType == 3 || status.IcmpType == 8 ||
              status.IcmpType == 11);
  vorn::Check(status.SourceAddress.size() >= 7 && status.SourceAddress.size() <= 15);
  if (status.Outcome != vorn::TReplyOutcome::Echo) {
    // An error is ours only when it quotes a whole IPv4 header of ICMP and an echo request.
    const size_t quoted = 4 * size_t(datagram[0] & 0x0F) + 8;
    const size_t quotedHeader = 4 * size_t(datagram[quoted] & 0x0F);
    vorn::Check(quotedHeader >= 20 && datagram[quoted + 9] == 1 &&
                datagram[quoted + quotedHeader] == 8);
  }
  return 0;
}
