// getWaveform on Windows: the Win32 setup window, modal on the host's thread.
#include <windows.h>

#include "HostWindow.h"
#include "SetupWindow.h"

namespace kestrel {
namespace {

// The windows start threads that can outlive them and run this library's
// code: the finder's probes, parked in their pool, and a name lookup given up
// at its time limit. Unloading the library under them would hang the host
// (the pool joined under the loader lock) or crash it, so once the windows
// have been shown the library stays loaded for the life of the process, as
// instrument-io does on Linux.
void KeepLoadedForTheProcess() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&KeepLoadedForTheProcess), &self);
}

}  // namespace

HRESULT ShowWindowForHost() {
    KeepLoadedForTheProcess();
    return ShowSetupWindow() ? S_OK : E_FAIL;
}

}  // namespace kestrel
