// kio::OpenSerial for a Windows build made without the Win32 serial module
// (Windows.cmake takes this file only when WinSerialTransport.cpp is absent):
// a serial address gets a clear error rather than the build failing to link.
#include "Transport.h"

namespace kio {

std::unique_ptr<Transport> OpenSerial(const std::string& device, const std::string&,
                                      const std::string&, std::string& why) {
    why = device + ": serial ports are not available in this build";
    return nullptr;
}

}  // namespace kio
