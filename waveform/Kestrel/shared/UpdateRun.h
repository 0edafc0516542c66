// The setup window's "Update" once its progress face shows, the same on every
// platform: opens the instrument at the address, runs the update and says
// "Firmware update failed!" when it did not commit. Releasing the I/O object
// at the end ends the connection. Errors go to the window's own handler.
#pragma once

#include <memory>
#include <string>

#include "InstrumentIO.h"
#include "WindowTexts.h"
#include "modGlobals.h"

namespace kestrel {

inline void RunUpdate(const std::string& address, std::string path, ProgressBar& progress,
                      MessageList& messages) {
    std::unique_ptr<InstrumentIO> io = CreateIOFactory()->OpenInstrument(address);
    if (UpdateFirmware(path, *io, progress, messages) != kUpdateCommitted)
        Window().ShowMessage(kUpdateFailedText, Buttons::kOk, Icon::kCritical, kBoxTitle);
}

}  // namespace kestrel
