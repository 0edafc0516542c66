// The serial transport: a device of the shared serial library, so a port
// behaves here exactly as it does under the console updater.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include <kio/HeldPorts.h>

#include "HeldPorts.h"
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

    // The wait goes in slices, so an interrupt ends it within one.
    long ReadSome(std::span<char> into, uint32_t waitMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (interrupted_) {
                return -1;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const uint32_t slice = static_cast<uint32_t>(
                std::clamp<int64_t>(left.count(), 0, int64_t{kInterruptCheckMs}));
            serialio::Transfer read = device_.Read(into, slice);
            if (read.state == serialio::IoState::kFailed) {
                device_.TakeErrorFlags();
                return -1;
            }
            if (read.count > 0 || slice == 0 || Clock::now() >= deadline) {
                return static_cast<long>(read.count);
            }
        }
    }

    void Interrupt() override { interrupted_ = true; }
    std::string Problem() const override {
        return interrupted_ ? "interrupted on request" : std::string();
    }

  private:
    using Clock = std::chrono::steady_clock;
    serialio::SerialDevice device_;
    std::atomic<bool> interrupted_{false};
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

void ReleaseHeldPortsNow() {
    serialio::ReleaseHeldPortsNow();
}

}  // namespace kio
