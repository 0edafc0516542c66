// GPIB through a "++" controller: a USB-serial or LAN adapter that takes
// commands starting with "++" and passes everything else to the instrument it
// addressed last. One connection to a controller serves every session of the
// instruments behind it; an exchange holds it so two never interleave.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Transport.h"

namespace kio {

struct GpibTarget {
    int primary = 0;     // 0 to 30
    int secondary = -1;  // 0 to 30; -1 for none
    bool operator==(const GpibTarget&) const = default;
};

// `bytes` as controller data: ESC before each CR, LF, ESC and '+'. A final LF
// stays as it is: it ends the message, and the controller sends the
// instrument's terminator in its place.
std::string EscapeControllerData(std::span<const char> bytes);

// The controller's read time-out for an I/O time-out, within its 1 to 3000 ms.
uint32_t ControllerReadTimeout(uint32_t timeoutMs);

// How long a claim waits for the session holding the controller: `waitMs` and
// the little a holder may overrun its own time-out.
std::chrono::milliseconds ClaimWait(uint32_t waitMs);

// The "++addr" command for `target` (a secondary address goes as 96 + n).
std::string AddressCommand(const GpibTarget& target);

class GpibController {
  public:
    GpibController(std::unique_ptr<Transport> link, std::string name);

    // Waits for the controller to be free. Waits on while it passes from one
    // session to the next; false when a single holder keeps it past `waitMs`
    // (and the little a holder may overrun its own time-out).
    bool Claim(uint32_t waitMs);
    void Release();

    // With the controller claimed: the set-up once per connection, then
    // "++read_tmo_ms" when the time-out changed and "++addr" when another
    // instrument was addressed last.
    bool Address(const GpibTarget& target, uint32_t readTimeoutMs, uint32_t timeoutMs);
    bool Send(std::string_view text, uint32_t timeoutMs);
    long Read(std::span<char> into, uint32_t waitMs);
    // Whether "++ver" is answered within `waitMs`.
    bool Answers(uint32_t waitMs);
    // Drops what the controller sent that no one is waiting for any more: a
    // reply that came after its wait was given up, or the answer to "++ver".
    void DropStaleBytes();

    // The connection failed: no new session should use it.
    bool Broken() const;
    const std::string& Name() const { return name_; }

  private:
    std::unique_ptr<Transport> link_;
    std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable freed_;
    bool held_ = false;
    uint64_t claims_ = 0;  // counts hand-overs, so a waiter sees progress
    bool broken_ = false;
    // The controller's state as this connection set it; only the holder touches these.
    bool setUp_ = false;
    std::optional<GpibTarget> addressed_;
    uint32_t readTimeoutMs_ = 0;
};

// A session's transport to one instrument behind `controller`.
std::unique_ptr<Transport> MakeGpibTransport(std::shared_ptr<GpibController> controller,
                                             GpibTarget target);

}  // namespace kio
