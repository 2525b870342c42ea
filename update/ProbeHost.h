// The update check's reachability probe: one echo exchange with the update server.
#pragma once

#include <string>

#include "IdIcmpClient.h"

namespace vorn {

// True after a probe that completed (a reply or a time-out), False after one that failed.
extern bool ProbeSucceeded;
// The replying address ("0.0.0.0" after a time-out, written by the reply handler), or
// "Failed".
extern std::string ProbeResultText;
// Why the last probe failed: the error's text, empty after one that completed.
extern std::string ProbeErrorText;

// Probes host through ping with the given time-out; never raises. The result is also left in
// ProbeSucceeded.
bool ProbeHost(TIdIcmpClient& ping, const std::string& host, int timeoutMs);

// The echo client's reply handler of the update window: keeps the replying address.
void StoreProbeReply(const TReplyStatus& status);

}  // namespace vorn
