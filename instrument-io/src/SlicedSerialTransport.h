// What the serial transports of both platforms share: the line's settings
// read one way, and a read's wait cut into slices so that an interrupt from
// another thread ends it within kInterruptCheckMs.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "LineConfig.h"
#include "Transport.h"

namespace kio {

class SlicedSerialTransport : public Transport {
  public:
    long ReadSome(std::span<char> into, uint32_t waitMs) final {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (interrupted_) {
                return -1;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const uint32_t slice = static_cast<uint32_t>(
                std::clamp<int64_t>(left.count(), 0, int64_t{kInterruptCheckMs}));
            const long count = ReadSlice(into, slice);
            if (count != 0 || slice == 0 || Clock::now() >= deadline) {
                return count;
            }
        }
    }

    void Interrupt() override { interrupted_ = true; }
    std::string Problem() const override {
        return interrupted_ ? "interrupted on request" : std::string();
    }

  protected:
    // Waits up to sliceMs (no longer) for bytes: their count, 0 at the
    // slice's end, -1 when the line failed.
    virtual long ReadSlice(std::span<char> into, uint32_t sliceMs) = 0;
    bool Interrupted() const { return interrupted_; }

  private:
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> interrupted_{false};
};

// OpenSerial on a platform's transport T, which has
// `bool Open(const std::string& device, const serialio::LineConfig&, std::string& why)`.
template <class T>
std::unique_ptr<Transport> OpenSerialAs(const std::string& device, const std::string& settings,
                                        const std::string& handshake, std::string& why) {
    std::optional<serialio::LineConfig> config = serialio::LineConfigFor(settings, handshake, why);
    if (!config) {
        return nullptr;
    }
    auto transport = std::make_unique<T>();
    if (!transport->Open(device, *config, why)) {
        return nullptr;
    }
    return transport;
}

}  // namespace kio
