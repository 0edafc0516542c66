// The simulator's sockets: bound to 127.0.0.1 only.
#pragma once

#include <cstdint>

namespace kr470 {

// A socket of `type` (SOCK_STREAM listening with `backlog`, or SOCK_DGRAM)
// bound to 127.0.0.1:port (0: any free port); -1 with errno when that fails.
int BindLoopback(int type, int port, int backlog = 8);

// The port a bound socket got.
uint16_t LocalPort(int fd);

}  // namespace kr470
