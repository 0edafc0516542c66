// Host names to socket addresses within a time limit. A numeric address is
// read at once, without asking anyone; a name is looked up on a thread of
// its own, which the caller stops waiting for at the limit (the lookup then
// ends by itself and frees what it found).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Sockets.h"

namespace kio {

struct FreeAddresses {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, FreeAddresses>;

// At most this many name lookups run at once; another one fails at once.
constexpr int kMostNameLookups = 8;

// Stream-socket addresses of host:port, or null with `why` set.
AddressList LookUpWithin(const std::string& host, const std::string& port, uint32_t timeoutMs,
                         std::string& why);

}  // namespace kio
