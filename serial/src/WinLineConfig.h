// A line's settings (LineConfig.h) in the Win32 device-control block, as the
// POSIX library puts them into termios: raw bytes, the frame asked for, and
// the handshake's modem lines and flow control.
#pragma once

#include <windows.h>

#include "LineConfig.h"

namespace serialio {

// Fills the rate, framing, handshake and flow-control fields of `dcb` (and
// DCBlength); no character is replaced or dropped and no error stops the line.
void ToDcb(const LineConfig& config, DCB& dcb);

}  // namespace serialio
