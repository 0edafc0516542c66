// The address and settings parsing of SerialLink::Open over the fake port,
// with any address text and any default settings the ports file could give.
#include <memory>
#include <string>

#include "FakePort.h"
#include "SerialLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // Before the first NUL: the address; after it: the port's default settings.
    size_t nul = text.find('\0');
    osprey::testing::FakePort::State port;
    if (nul != std::string::npos)
        port.defaultSettings = text.substr(nul + 1);
    // Refuse some settings, as a device that cannot do them would.
    port.accepts = [](const osprey::LineSettings& s) { return s.baudRate % 7 != 3; };
    osprey::SerialLink link(std::make_unique<osprey::testing::FakePort>(port));
    try {
        link.Open(text.substr(0, nul));
    } catch (int) {
        // Every refusal is a link error code; nothing else may escape.
    }
    return 0;
}
