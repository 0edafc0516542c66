// The Qt application the windows need, as the component finds or makes it in
// a host's process: a host with its own application object is used as it is,
// a host without one gets one made here (only when a display answers), which
// then lives as long as the process.
#pragma once

#include "HostWindow.h"

namespace kestrel {

// ShowWindowForHost (HostWindow.h) here: E_FAIL when the host runs without
// widgets or no display answers, RPC_E_WRONG_THREAD off the application's
// thread.

// True once ShowWindowForHost made the application object, which the library
// must then outlive.
bool OwnsApplication();

}  // namespace kestrel
