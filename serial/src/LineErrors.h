// The driver's receive-error counters, reported as the link's error flags.
#pragma once

#include <cstdint>
#include <optional>

namespace serialio {

inline constexpr uint32_t kReceiveOverflow = 0x0001;  // the driver's buffer ran over
inline constexpr uint32_t kOverrun = 0x0002;          // the UART's receiver ran over
inline constexpr uint32_t kParityError = 0x0004;
inline constexpr uint32_t kFramingError = 0x0008;
inline constexpr uint32_t kBreak = 0x0010;
inline constexpr uint32_t kLineGone = 0x8000;  // hang-up or a failed read

struct ErrorCounts {
    uint32_t bufferOverrun = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t framing = 0;
    uint32_t breaks = 0;
};

// The counters of the device, or nothing where the driver keeps none (a
// pseudo-terminal, many USB adapters).
std::optional<ErrorCounts> ReadErrorCounts(int fd);

// The flags of every counter that moved from `before` to `after`.
uint32_t FlagsBetween(const ErrorCounts& before, const ErrorCounts& after);

}  // namespace serialio
