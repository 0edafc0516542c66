// Mode texts such as "9600,N,8,1" or "57600,e,7,2": baud rate, parity letter,
// data bits and stop bits; the parts after the baud rate may be left out.
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "SerialPort.h"

namespace osprey {
namespace {

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string_view part =
            text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
        while (!part.empty() && part.front() == ' ') {
            part.remove_prefix(1);
        }
        while (!part.empty() && part.back() == ' ') {
            part.remove_suffix(1);
        }
        parts.push_back(part);
        if (comma == std::string_view::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

bool ParseUnsigned(std::string_view text, uint32_t& value) {
    if (text.empty()) {
        return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseParity(std::string_view text, Parity& parity) {
    if (text.size() != 1) {
        return false;
    }
    switch (text[0]) {
        case 'N':
        case 'n':
            parity = kNoParity;
            return true;
        case 'O':
        case 'o':
            parity = kOddParity;
            return true;
        case 'E':
        case 'e':
            parity = kEvenParity;
            return true;
        case 'M':
        case 'm':
            parity = kMarkParity;
            return true;
        case 'S':
        case 's':
            parity = kSpaceParity;
            return true;
        default:
            return false;
    }
}

bool ParseStopBits(std::string_view text, StopBits& stop) {
    if (text == "1") {
        stop = kOneStopBit;
    } else if (text == "1.5") {
        stop = kOne5StopBits;
    } else if (text == "2") {
        stop = kTwoStopBits;
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool BuildLineSettings(std::string_view text, LineSettings& settings) {
    std::vector<std::string_view> parts = SplitAtCommas(text);
    if (parts.size() > 4) {
        return false;
    }
    LineSettings built = settings;
    uint32_t baud = 0;
    if (!ParseUnsigned(parts[0], baud) || baud == 0) {
        return false;
    }
    built.baudRate = baud;
    if (parts.size() > 1 && !ParseParity(parts[1], built.parity)) {
        return false;
    }
    uint32_t dataBits = 8;
    if (parts.size() > 2 && (!ParseUnsigned(parts[2], dataBits) || dataBits < 5 || dataBits > 8)) {
        return false;
    }
    built.byteSize = static_cast<uint8_t>(dataBits);
    if (parts.size() > 3 && !ParseStopBits(parts[3], built.stopBits)) {
        return false;
    }
    settings = built;
    return true;
}

}  // namespace osprey
