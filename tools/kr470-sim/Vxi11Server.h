// The simulator's LAN face: the VXI-11 core channel on a loopback TCP port
// and, when asked and allowed, the portmapper on 127.0.0.1:111 (TCP and UDP),
// all in one poll loop.
#pragma once

#include <csignal>
#include <functional>

#include "Vxi11Core.h"

namespace kr470 {

// Prints "vxi11 PORT" (with " portmapper" when port 111 is served) as the
// first line of standard output, then serves until `stop` is set or the
// instrument drops the line; `onNewLink` is told of each link created.
// Returns the exit status.
int ServeVxi11(const Vxi11Options& options, const LineHandler& handler,
               const volatile std::sig_atomic_t& stop, const std::function<void()>& onNewLink = {});

}  // namespace kr470
