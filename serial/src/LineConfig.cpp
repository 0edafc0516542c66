#include "LineConfig.h"

#include <cctype>
#include <charconv>
#include <string>

#include "TextRules.h"

namespace serialio {
namespace {

using fileio::Trim;

// The next comma-separated item, trimmed; `text` moves past it.
std::string_view NextItem(std::string_view& text) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    return Trim(item);
}

bool ReadNumber(std::string_view item, uint32_t& value) {
    auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value);
    return error == std::errc() && end == item.data() + item.size();
}

}  // namespace

bool ParseLineText(std::string_view text, LineConfig& config) {
    LineConfig parsed = config;
    uint32_t number = 0;
    if (!ReadNumber(NextItem(text), number) || number == 0) {
        return false;
    }
    parsed.baud = number;
    if (std::string_view item = NextItem(text); !item.empty()) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
        if (item.size() != 1 || std::string_view("NOEMS").find(letter) == std::string_view::npos) {
            return false;
        }
        parsed.parity = letter;
    }
    if (std::string_view item = NextItem(text); !item.empty()) {
        if (!ReadNumber(item, number) || number < 5 || number > 8) {
            return false;
        }
        parsed.dataBits = static_cast<uint8_t>(number);
    }
    if (std::string_view item = NextItem(text); !item.empty()) {
        if (!ReadNumber(item, number) || (number != 1 && number != 2)) {
            return false;
        }
        parsed.stopBits = static_cast<uint8_t>(number);
    }
    if (!Trim(text).empty()) {
        return false;
    }
    config = parsed;
    return true;
}

std::optional<Handshake> HandshakeNamed(std::string_view name) {
    const std::string upper = fileio::Upper(Trim(name));
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

ModemLines ModemLinesFor(Handshake mode) {
    return ModemLines{mode == Handshake::kDtrDsr, mode != Handshake::kRtsCts};
}

}  // namespace serialio
