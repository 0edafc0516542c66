// The serial transport: a device of the shared serial library, so a port
// behaves here exactly as it does under the console updater.

#include <cstring>

#include <kio/HeldPorts.h>

#include "HeldPorts.h"
#include "SerialDevice.h"
#include "SlicedSerialTransport.h"

namespace kio {
namespace {

class SerialTransport : public SlicedSerialTransport {
  public:
    bool Open(const std::string& device, const serialio::LineConfig& config, std::string& why) {
        serialio::OpenFailure failure;
        if (!device_.Open(device, failure)) {
            why = device + ": " + std::strerror(failure.error);
            if (failure.holder > 0) {
                why += " (held by PID " + std::to_string(failure.holder) + ")";
            } else if (failure.lockRefused) {
                why += " (no lock file in the folder KR470_LOCK_DIR names)";
            }
            return false;
        }
        if (!device_.Configure(config)) {
            why = device + ": the device does not take these line settings";
            return false;
        }
        return true;
    }

    bool WriteAll(std::span<const char> bytes, uint32_t timeoutMs) override {
        return device_.Write(bytes, timeoutMs).state == serialio::IoState::kOk;
    }

  private:
    long ReadSlice(std::span<char> into, uint32_t sliceMs) override {
        serialio::Transfer read = device_.Read(into, sliceMs);
        if (read.state == serialio::IoState::kFailed) {
            device_.TakeErrorFlags();
            return -1;
        }
        return static_cast<long>(read.count);
    }

    serialio::SerialDevice device_;
};

}  // namespace

std::unique_ptr<Transport> OpenSerial(const std::string& device, const std::string& settings,
                                      const std::string& handshake, std::string& why) {
    return OpenSerialAs<SerialTransport>(device, settings, handshake, why);
}

void ReleaseHeldPortsNow() {
    serialio::ReleaseHeldPortsNow();
}

}  // namespace kio
