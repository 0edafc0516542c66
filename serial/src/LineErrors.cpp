#include "LineErrors.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace serialio {

std::optional<ErrorCounts> ReadErrorCounts(int fd) {
    serial_icounter_struct counts{};
    if (ioctl(fd, TIOCGICOUNT, &counts) != 0) {
        return std::nullopt;
    }
    return ErrorCounts{static_cast<uint32_t>(counts.buf_overrun),
                       static_cast<uint32_t>(counts.overrun), static_cast<uint32_t>(counts.parity),
                       static_cast<uint32_t>(counts.frame), static_cast<uint32_t>(counts.brk)};
}

uint32_t FlagsBetween(const ErrorCounts& before, const ErrorCounts& after) {
    uint32_t flags = 0;
    flags |= after.bufferOverrun != before.bufferOverrun ? kReceiveOverflow : 0;
    flags |= after.overrun != before.overrun ? kOverrun : 0;
    flags |= after.parity != before.parity ? kParityError : 0;
    flags |= after.framing != before.framing ? kFramingError : 0;
    flags |= after.breaks != before.breaks ? kBreak : 0;
    return flags;
}

}  // namespace serialio
