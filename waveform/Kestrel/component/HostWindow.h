// How a call of getWaveform reaches the setup window: one function, defined
// per platform (the Qt application on Linux, the Win32 window on Windows).
#pragma once

#include "ComPlatform.h"

namespace kestrel {

// Shows the setup window modally on the host's thread and returns when it
// has closed; the failure code when it cannot be shown.
HRESULT ShowWindowForHost();

}  // namespace kestrel
