// Line settings of a serial port as both programs name them: baud rate, frame
// and one of four handshake modes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace serialio {

enum class Handshake : uint8_t { kNone = 1, kXonXoff = 2, kRtsCts = 3, kDtrDsr = 4 };

struct LineConfig {
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    char parity = 'N';  // N, O, E, M (mark) or S (space)
    uint8_t stopBits = 1;
    Handshake handshake = Handshake::kNone;
    char xonChar = 0x11;
    char xoffChar = 0x13;

    // Bits on the wire per byte: start, data, parity, stop.
    unsigned FrameBits() const { return 1u + dataBits + (parity == 'N' ? 0u : 1u) + stopBits; }
    bool operator==(const LineConfig&) const = default;
};

// Reads "9600,N,8,1" by LineText.h's rule on top of `config`: the parts left
// out keep their values; "1.5" stop bits (5-bit bytes only) are stopBits 2,
// which is what the UART sends then. False, `config` unchanged, when a part is
// not understood.
bool ParseLineText(std::string_view text, LineConfig& config);

// "NONE", "XON_XOFF", "RTS_CTS" or "DTR_DSR" in any case.
std::optional<Handshake> HandshakeNamed(std::string_view name);

// A port's settings text ("9600,N,8,1") and handshake name (empty for NONE)
// read into a line's settings for opening; nothing, with `why` saying which
// part was not understood, otherwise.
std::optional<LineConfig> LineConfigFor(std::string_view settings, std::string_view handshake,
                                        std::string& why);

// What the modem lines should be in a handshake mode: DTR raised only for
// DTR/DSR, RTS lowered in every mode but RTS/CTS (where the driver drives it).
struct ModemLines {
    bool raiseDtr = false;
    bool lowerRts = true;
};
ModemLines ModemLinesFor(Handshake mode);

}  // namespace serialio
