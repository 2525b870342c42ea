#include "IdTCPClient.h"

namespace vorn {

void TIdTCPClient::Connect(int timeoutMs) {
  ConnectTo(Host, Port, timeoutMs < 0 ? ConnectTimeout : timeoutMs);
}

}  // namespace vorn
