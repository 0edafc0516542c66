#include "LineConfig.h"

#include <string>

#include "LineText.h"
#include "TextRules.h"

namespace serialio {

bool ParseLineText(std::string_view text, LineConfig& config) {
    const std::optional<LineText> read = ReadLineText(text);
    if (!read)
        return false;
    // 1.5 stop bits are what a UART sends for two with 5-bit bytes, and
    // exist on no other frame: such a line cannot be set up.
    const uint8_t dataBits = read->dataBits.value_or(config.dataBits);
    if (read->stopBits == LineText::Stop::kOneAndHalf && dataBits != 5)
        return false;
    config.baud = read->baud;
    config.parity = read->parity.value_or(config.parity);
    config.dataBits = dataBits;
    if (read->stopBits)
        config.stopBits = *read->stopBits == LineText::Stop::kOne ? 1 : 2;
    return true;
}

std::optional<Handshake> HandshakeNamed(std::string_view name) {
    const std::string upper = fileio::Upper(fileio::Trim(name));
    if (upper == "NONE") {
        return Handshake::kNone;
    }
    if (upper == "XON_XOFF") {
        return Handshake::kXonXoff;
    }
    if (upper == "RTS_CTS") {
        return Handshake::kRtsCts;
    }
    if (upper == "DTR_DSR") {
        return Handshake::kDtrDsr;
    }
    return std::nullopt;
}

std::optional<LineConfig> LineConfigFor(std::string_view settings, std::string_view handshake,
                                        std::string& why) {
    LineConfig config;
    if (!ParseLineText(settings, config)) {
        why = "line settings \"" + std::string(settings) + "\" not understood";
        return std::nullopt;
    }
    if (!handshake.empty()) {
        std::optional<Handshake> mode = HandshakeNamed(handshake);
        if (!mode) {
            why = "handshake \"" + std::string(handshake) +
                  "\" not understood (NONE, XON_XOFF, RTS_CTS or DTR_DSR)";
            return std::nullopt;
        }
        config.handshake = *mode;
    }
    return config;
}

ModemLines ModemLinesFor(Handshake mode) {
    return ModemLines{mode == Handshake::kDtrDsr, mode != Handshake::kRtsCts};
}

}  // namespace serialio
