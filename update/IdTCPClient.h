// An outgoing TCP connection to Host and Port.
#pragma once

#include <string>

#include "IdTCPConnection.h"

namespace vorn {

class TIdTCPClient : public TIdTCPConnection {
 public:
  std::string Host;  // a name or a dotted address
  int Port = 0;
  // Milliseconds a connect waits for the peer before failing with kWsaETimedOut.
  int ConnectTimeout = kIdDefaultConnectTimeout;

  // Resolves Host (Resolving report for a name), reports Connecting with the address,
  // connects, reports Connected and raises OnConnected. Raises EIdAlreadyConnected on an open
  // connection; on any failure the connection stays closed and the error goes to the caller.
  // timeoutMs < 0 uses ConnectTimeout.
  void Connect(int timeoutMs = -1);
};

}  // namespace vorn
