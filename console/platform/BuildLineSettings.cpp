// Mode texts such as "9600,N,8,1" or "57600,e,7,2", read by the serial
// library's one rule (LineText.h) and put into the port's settings as the
// system's mode-text builder does: data bits left out are 8, parity and stop
// bits left out keep their values.
#include <string_view>

#include "LineText.h"
#include "SerialPort.h"

namespace osprey {
namespace {

Parity ParityNamed(char letter) {
    switch (letter) {
        case 'O':
            return kOddParity;
        case 'E':
            return kEvenParity;
        case 'M':
            return kMarkParity;
        case 'S':
            return kSpaceParity;
        default:
            return kNoParity;
    }
}

StopBits StopBitsOf(serialio::LineText::Stop stop) {
    switch (stop) {
        case serialio::LineText::Stop::kOneAndHalf:
            return kOne5StopBits;
        case serialio::LineText::Stop::kTwo:
            return kTwoStopBits;
        default:
            return kOneStopBit;
    }
}

}  // namespace

bool BuildLineSettings(std::string_view text, LineSettings& settings) {
    const std::optional<serialio::LineText> read = serialio::ReadLineText(text);
    if (!read) {
        return false;
    }
    settings.baudRate = read->baud;
    if (read->parity) {
        settings.parity = ParityNamed(*read->parity);
    }
    settings.byteSize = read->dataBits.value_or(8);
    if (read->stopBits) {
        settings.stopBits = StopBitsOf(*read->stopBits);
    }
    return true;
}

}  // namespace osprey
