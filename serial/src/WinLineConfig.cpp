#include "WinLineConfig.h"

namespace serialio {
namespace {

BYTE ParityCode(char letter) {
    switch (letter) {
        case 'O':
            return ODDPARITY;
        case 'E':
            return EVENPARITY;
        case 'M':
            return MARKPARITY;
        case 'S':
            return SPACEPARITY;
        default:
            return NOPARITY;
    }
}

// Two stop bits with 5-bit bytes are the 1.5 a UART sends then.
BYTE StopBitsCode(uint8_t stopBits, uint8_t dataBits) {
    if (stopBits == 1) {
        return ONESTOPBIT;
    }
    return dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS;
}

}  // namespace

void ToDcb(const LineConfig& config, DCB& dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = config.baud;
    dcb.ByteSize = config.dataBits;
    dcb.Parity = ParityCode(config.parity);
    dcb.StopBits = StopBitsCode(config.stopBits, config.dataBits);
    dcb.fBinary = TRUE;
    dcb.fParity = config.parity != 'N';
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;

    const ModemLines lines = ModemLinesFor(config.handshake);
    const bool rtsCts = config.handshake == Handshake::kRtsCts;
    const bool dtrDsr = config.handshake == Handshake::kDtrDsr;
    const bool xonXoff = config.handshake == Handshake::kXonXoff;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE
                             : (lines.lowerRts ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE);
    dcb.fOutxDsrFlow = dtrDsr;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = dtrDsr ? DTR_CONTROL_HANDSHAKE
                             : (lines.raiseDtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE);
    dcb.fOutX = xonXoff;
    dcb.fInX = xonXoff;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.XonChar = config.xonChar;
    dcb.XoffChar = config.xoffChar;
    dcb.XonLim = 256;
    dcb.XoffLim = 256;
}

}  // namespace serialio
