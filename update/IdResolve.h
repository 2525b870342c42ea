// Name resolution for the connection layer and the echo probe, IPv6 and IPv4.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vorn {

// Runs while a look-up waits for the system resolver, every kResolveSliceMs; it may throw to
// give the look-up up (the resolver's thread then finishes on its own and is forgotten).
using TResolveTick = std::function<void()>;
inline constexpr int kResolveSliceMs = 50;

// AF_INET for a dotted IPv4 address, AF_INET6 for an IPv6 one, AF_UNSPEC for anything else.
int AddressFamily(const std::string& address);
// Whether the host is an address that needs no look-up.
inline bool IsAddressLiteral(const std::string& host) { return AddressFamily(host) != 0; }

// Every address of host in numeric form, in the order the system prefers them (IPv6 first
// where it does): "LOCALHOST" (any case) gives "127.0.0.1", an address gives itself, any other
// name what the system resolver finds for either family. A failed look-up raises
// EIdSocketError (kWsaHostNotFound "Host not found." for a name that does not exist). With a
// tick the look-up runs beside the caller, which waits in slices and runs the tick after each.
std::vector<std::string> ResolveHostAddresses(const std::string& host,
                                              const TResolveTick& tick = {});

// The first of them.
std::string ResolveHost(const std::string& host, const TResolveTick& tick = {});

}  // namespace vorn
