// Serial devices on Windows: port n is COMn, opened through the device
// namespace (\\.\COMn) so that ports past COM9 open too; a device is keyed as
// that name in upper case, however it was written.
#include "Address.h"
#include "Config.h"

namespace kio {

std::string SerialDeviceOfPort(int number) {
    return "\\\\.\\COM" + std::to_string(number);
}

std::string RealSerialDevice(const std::string& device) {
    const std::string upper = Upper(device);
    return upper.starts_with("\\\\.\\") ? upper : "\\\\.\\" + upper;
}

}  // namespace kio
