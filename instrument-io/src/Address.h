// Resource addresses: "ASRL1::INSTR", "TCPIP0::host::port::SOCKET", "GPIB0::10".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kio {

// The "::"-separated parts of an address, as written.
std::vector<std::string> SplitAddress(std::string_view address);

// An address trimmed, in upper case and without "::INSTR": "GPIB0::10" and
// "GPIB0::10::INSTR" name the same instrument.
std::string Canonical(std::string_view address);

bool AllDigits(const std::string& text);

// The device a numbered serial port stands for when its section names none:
// ASRL1 is /dev/ttyS0 (COM1 on Windows). Empty for digits too many for any port.
std::string NumberedSerialDevice(const std::string& digits);

// The platform's naming of serial devices, one file each (SerialNames.cpp,
// WinSerialNames.cpp): the device of port `number`, and a device as the one
// name every spelling of it shares (a link and its target are one port).
std::string SerialDeviceOfPort(int number);
std::string RealSerialDevice(const std::string& device);

}  // namespace kio
