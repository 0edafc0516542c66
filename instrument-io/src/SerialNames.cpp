// Serial devices on POSIX systems: numbered ports are the ttyS devices, and a
// device is keyed by its real path.
#include <filesystem>

#include "Address.h"

namespace kio {

std::string SerialDeviceOfPort(int number) {
    return "/dev/ttyS" + std::to_string(number - 1);
}

std::string RealSerialDevice(const std::string& device) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(device, error);
    return error ? device : real.string();
}

}  // namespace kio
