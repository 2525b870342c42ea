#include "IdResolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <strings.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "IdException.h"

namespace vorn {

namespace {

struct Lookup {
  std::string host;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int rc = 0;
  int error = 0;  // errno, for EAI_SYSTEM
  std::vector<std::string> found;
};

void Run(Lookup& lookup) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(lookup.host.c_str(), nullptr, &hints, &list);
  const int error = errno;
  std::vector<std::string> found;
  for (const addrinfo* a = rc == 0 ? list : nullptr; a != nullptr; a = a->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (a->ai_family == AF_INET)
      raw = &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
    else if (a->ai_family == AF_INET6)
      raw = &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr;
    if (raw == nullptr || inet_ntop(a->ai_family, raw, text, sizeof text) == nullptr) continue;
    // A link-local address would need its interface; the update server is never one.
    bool seen = false;
    for (const std::string& f : found) seen = seen || f == text;
    if (!seen) found.emplace_back(text);
  }
  if (list != nullptr) freeaddrinfo(list);
  const std::lock_guard lock(lookup.mutex);
  lookup.rc = rc;
  lookup.error = error;
  lookup.found = std::move(found);
  lookup.finished = true;
  lookup.done.notify_all();
}

}  // namespace

int AddressFamily(const std::string& address) {
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return AF_INET;
  if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) return AF_INET6;
  return AF_UNSPEC;
}

std::vector<std::string> ResolveHostAddresses(const std::string& host, const TResolveTick& tick) {
  if (strcasecmp(host.c_str(), "LOCALHOST") == 0) return {"127.0.0.1"};
  if (IsAddressLiteral(host)) return {host};
  auto lookup = std::make_shared<Lookup>();
  lookup->host = host;
  bool inline_ = !tick;
  if (!inline_) {
    try {
      // The system resolver cannot be interrupted: it runs on a thread of its own, which keeps
      // its state alive when the caller gives up.
      std::thread([lookup] { Run(*lookup); }).detach();
    } catch (const std::system_error&) {
      inline_ = true;
    }
  }
  if (inline_) {
    Run(*lookup);
  } else {
    std::unique_lock lock(lookup->mutex);
    while (!lookup->done.wait_for(lock, std::chrono::milliseconds(kResolveSliceMs),
                                  [&] { return lookup->finished; })) {
      lock.unlock();
      tick();
      lock.lock();
    }
  }
  const std::lock_guard lock(lookup->mutex);
  if (lookup->rc == EAI_SYSTEM) {
    errno = lookup->error;
    RaiseLastSocketError();
  }
  if (lookup->rc != 0 || lookup->found.empty()) {
    // EAI_AGAIN is a temporary failure; every other failure means the name is not known.
    throw EIdSocketError(lookup->rc == EAI_AGAIN ? kWsaTryAgain : kWsaHostNotFound);
  }
  return lookup->found;
}

std::string ResolveHost(const std::string& host, const TResolveTick& tick) {
  return ResolveHostAddresses(host, tick).front();
}

}  // namespace vorn
