// The port's line settings in the Win32 device-control block and back.
#pragma once

#include <windows.h>

#include "SerialPort.h"
#include "WinComm.h"

namespace osprey {

// Fills every field of `dcb` that the line settings carry; DCBlength too.
void ToDcb(const LineSettings& settings, DCB& dcb);
LineSettings FromDcb(const DCB& dcb);

using serialio::SameFraming;

}  // namespace osprey
