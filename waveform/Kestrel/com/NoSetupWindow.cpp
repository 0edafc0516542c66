// getWaveform in a build without the Win32 windows: nothing can be shown.
#include "HostWindow.h"

namespace kestrel {

HRESULT ShowWindowForHost() {
    return E_FAIL;
}

}  // namespace kestrel
