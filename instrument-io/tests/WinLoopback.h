// For the Windows tests: a Winsock listener on a loopback port of its own.
#pragma once

#include <winsock2.h>

#include <string>

#include "Sockets.h"

namespace kio {

// A listening socket on 127.0.0.1 and a port the system picks (in `port`).
inline SOCKET ListenOnLoopback(std::string& port) {
    StartSockets();
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0) {
        closesocket(listener);
        return INVALID_SOCKET;
    }
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = std::to_string(ntohs(address.sin_port));
    return listener;
}

}  // namespace kio
