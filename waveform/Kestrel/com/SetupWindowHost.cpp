// getWaveform on Windows: the Win32 setup window, modal on the host's thread.
#include "HostWindow.h"
#include "SetupWindow.h"

namespace kestrel {

HRESULT ShowWindowForHost() {
    return ShowSetupWindow() ? S_OK : E_FAIL;
}

}  // namespace kestrel
