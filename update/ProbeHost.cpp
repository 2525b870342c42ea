#include "ProbeHost.h"

namespace vorn {

bool ProbeSucceeded = false;
std::string ProbeResultText;
std::string ProbeErrorText;

bool ProbeHost(TIdIcmpClient& ping, const std::string& host, int timeoutMs) {
  ProbeSucceeded = false;
  ProbeResultText.clear();
  ProbeErrorText.clear();
  ping.Host = host;
  ping.ReceiveTimeout = timeoutMs;
  try {
    ping.EchoExchange(ProbeResultText, 0);
  } catch (const std::exception& e) {
    // Whatever went wrong (resolution, sockets, a reply that made no sense), the check only
    // needs to know the server was not reached, and the user why.
    ProbeErrorText = e.what();
    ProbeResultText = "Failed";
    ProbeSucceeded = false;
    return false;
  } catch (...) {
    ProbeErrorText = "Unknown error.";
    ProbeResultText = "Failed";
    ProbeSucceeded = false;
    return false;
  }
  ProbeSucceeded = true;
  return true;
}

void StoreProbeReply(const TReplyStatus& status) { ProbeResultText = status.SourceAddress; }

}  // namespace vorn
