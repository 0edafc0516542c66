// The one reading of a line-settings text such as "9600,N,8,1" or
// "1200,o,5,1.5": baud rate, parity letter, data bits and stop bits, as the
// ports file, Osprey's address, instrument-io's "settings" key and kr470-ports'
// --settings all take it. The parts after the baud rate may be left out; none
// may be empty; blanks around a part are allowed. Stop bits are 1, 2 or 1.5,
// after any data bits, as the system's mode-text builder reads them: whether
// a line can carry the frame is for the one that sets the line up (a UART has
// 1.5 only with 5-bit bytes). No system calls: Osprey's Windows build takes it
// too.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace serialio {

struct LineText {
    enum class Stop : uint8_t { kOne, kOneAndHalf, kTwo };

    uint32_t baud = 0;                // above 0
    std::optional<char> parity;       // upper case: N, O, E, M or S
    std::optional<uint8_t> dataBits;  // 5 to 8
    std::optional<Stop> stopBits;     // each left empty when its part is left out
};

// The parts of `text`, or nothing when any part is not understood.
std::optional<LineText> ReadLineText(std::string_view text);

}  // namespace serialio
