#include "ProbeHost.h"

namespace vorn {

bool ProbeSucceeded = false;
std::string ProbeResultText;

bool ProbeHost(TIdIcmpClient& ping, const std::string& host, int timeoutMs) {
  ProbeSucceeded = false;
  ProbeResultText.clear();
  ping.Host = host;
  ping.ReceiveTimeout = timeoutMs;
  try {
    ping.EchoExchange(ProbeResultText, 0);
  } catch (...) {
    // Whatever went wrong (resolution, sockets, a reply that made no sense), the check only
    // needs to know the server was not reached.
    ProbeResultText = "Failed";
    ProbeSucceeded = false;
    return false;
  }
  ProbeSucceeded = true;
  return true;
}

void StoreProbeReply(const TReplyStatus& status) { ProbeResultText = status.SourceAddress; }

}  // namespace vorn
