// The COM types of the component's published interface (CWaveformInterface.h),
// on Windows: those of the Windows headers, under the name the interface
// header includes on both platforms (kcom's header of this name on Linux).
#pragma once

#include <windows.h>
// after windows.h
#include <oleauto.h>

#include <cstdint>
