// The serial transport: a device of the shared serial library, so a port
// behaves here exactly as it does under the console updater.
#include <cstring>

#include "SerialDevice.h"
#include "Transport.h"

namespace kio {
namespace {

class SerialTransport : public Transport {
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

    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        serialio::Transfer read = device_.Read(into, waitMs);
        if (read.state == serialio::IoState::kFailed) {
            device_.TakeErrorFlags();
            return -1;
        }
        return static_cast<long>(read.count);
    }

  private:
    serialio::SerialDevice device_;
};

}  // namespace

std::unique_ptr<Transport> OpenSerial(const std::string& device, const std::string& settings,
                                      const std::string& handshake, std::string& why) {
    serialio::LineConfig config;
    if (!serialio::ParseLineText(settings, config)) {
        why = "line settings \"" + settings + "\" not understood";
        return nullptr;
    }
    if (!handshake.empty()) {
        std::optional<serialio::Handshake> mode = serialio::HandshakeNamed(handshake);
        if (!mode) {
            why = "handshake \"" + handshake +
                  "\" not understood (NONE, XON_XOFF, RTS_CTS or DTR_DSR)";
            return nullptr;
        }
        config.handshake = *mode;
    }
    auto transport = std::make_unique<SerialTransport>();
    if (!transport->Open(device, config, why)) {
        return nullptr;
    }
    return transport;
}

}  // namespace kio
