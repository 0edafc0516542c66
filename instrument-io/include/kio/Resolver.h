// Where the library's host-name lookups go. Tests put a resolver of their own
// in place, so that names answer without asking the network.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#endif

#include <functional>

#include <kio/Export.h>

namespace kio {

// The resolver that names go to, with getaddrinfo's signature.
using Resolver = std::function<int(const char*, const char*, const addrinfo*, addrinfo**)>;

// Puts `resolver` in place for every later lookup; empty restores getaddrinfo.
KIO_API void SetResolver(Resolver resolver);

}  // namespace kio
