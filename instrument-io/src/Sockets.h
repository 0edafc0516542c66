// The system's socket declarations, Winsock's on Windows and the BSD ones
// elsewhere, and the one call that makes them usable before the first lookup.
#pragma once

#include <kio/Resolver.h>

#ifndef _WIN32
#include <arpa/inet.h>
#endif

namespace kio {

// Makes sockets and name lookups usable in this process: starts Winsock once
// on Windows, does nothing elsewhere. Cheap to call again.
void StartSockets();

}  // namespace kio
