// Name resolution for the connection layer and the echo probe (IPv4).
#pragma once

#include <string>

namespace vorn {

// "LOCALHOST" (any case) gives "127.0.0.1", a dotted address gives itself, any other name the
// first address the system resolver finds, in dotted form. A failed look-up raises
// EIdSocketError (kWsaHostNotFound "Host not found." for a name that does not exist).
std::string ResolveHost(const std::string& host);

}  // namespace vorn
