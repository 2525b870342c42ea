#include "IdResolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <strings.h>

#include <cerrno>

#include "IdException.h"

namespace vorn {

std::string ResolveHost(const std::string& host) {
  if (strcasecmp(host.c_str(), "LOCALHOST") == 0) return "127.0.0.1";
  in_addr dotted{};
  if (inet_pton(AF_INET, host.c_str(), &dotted) == 1) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    if (rc == EAI_SYSTEM) RaiseLastSocketError();
    // EAI_AGAIN is a temporary failure; every other failure means the name is not known.
    throw EIdSocketError(rc == EAI_AGAIN ? kWsaTryAgain : kWsaHostNotFound);
  }
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

}  // namespace vorn
