// The port's line settings in the Win32 device-control block and back.
#pragma once

#include <windows.h>

#include "SerialPort.h"

namespace osprey {

// Fills every field of `dcb` that the line settings carry; DCBlength too.
void ToDcb(const LineSettings& settings, DCB& dcb);
LineSettings FromDcb(const DCB& dcb);

// True when the driver's copy holds the rate and framing that were asked for;
// a driver may take settings it cannot do and quietly keep others.
bool SameFraming(const DCB& asked, const DCB& taken);

}  // namespace osprey
