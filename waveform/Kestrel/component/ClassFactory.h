// The class object a host gets from DllGetClassObject: it makes CWaveform
// objects, each in its initial state, and counts itself and its locks
// towards DllCanUnloadNow.
#pragma once

#include "ComPlatform.h"

namespace kestrel {

// A new class object for `clsid` (CLSID_CWaveform only), as the interface
// `riid` of it in `object`.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object);

}  // namespace kestrel
