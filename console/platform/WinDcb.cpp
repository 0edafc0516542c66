#include "WinDcb.h"

namespace osprey {

void ToDcb(const LineSettings& s, DCB& dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = s.baudRate;
    dcb.fBinary = s.binary;
    dcb.fParity = s.parityCheck;
    dcb.fOutxCtsFlow = s.outxCtsFlow;
    dcb.fOutxDsrFlow = s.outxDsrFlow;
    dcb.fDtrControl = s.dtrControl;
    dcb.fDsrSensitivity = s.dsrSensitivity;
    dcb.fTXContinueOnXoff = s.txContinueOnXoff;
    dcb.fOutX = s.outX;
    dcb.fInX = s.inX;
    dcb.fErrorChar = s.errorReplace;
    dcb.fNull = s.discardNull;
    dcb.fRtsControl = s.rtsControl;
    dcb.fAbortOnError = s.abortOnError;
    dcb.XonLim = s.xonLimit;
    dcb.XoffLim = s.xoffLimit;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.XonChar = s.xonChar;
    dcb.XoffChar = s.xoffChar;
    dcb.ErrorChar = s.errorChar;
    dcb.EofChar = s.eofChar;
    dcb.EvtChar = s.eventChar;
}

LineSettings FromDcb(const DCB& dcb) {
    LineSettings s;
    s.baudRate = dcb.BaudRate;
    s.binary = dcb.fBinary;
    s.parityCheck = dcb.fParity;
    s.outxCtsFlow = dcb.fOutxCtsFlow;
    s.outxDsrFlow = dcb.fOutxDsrFlow;
    s.dtrControl = static_cast<DtrControl>(dcb.fDtrControl);
    s.dsrSensitivity = dcb.fDsrSensitivity;
    s.txContinueOnXoff = dcb.fTXContinueOnXoff;
    s.outX = dcb.fOutX;
    s.inX = dcb.fInX;
    s.errorReplace = dcb.fErrorChar;
    s.discardNull = dcb.fNull;
    s.rtsControl = static_cast<RtsControl>(dcb.fRtsControl);
    s.abortOnError = dcb.fAbortOnError;
    s.xonLimit = dcb.XonLim;
    s.xoffLimit = dcb.XoffLim;
    s.byteSize = dcb.ByteSize;
    s.parity = static_cast<Parity>(dcb.Parity);
    s.stopBits = static_cast<StopBits>(dcb.StopBits);
    s.xonChar = dcb.XonChar;
    s.xoffChar = dcb.XoffChar;
    s.errorChar = dcb.ErrorChar;
    s.eofChar = dcb.EofChar;
    s.eventChar = dcb.EvtChar;
    return s;
}

}  // namespace osprey

namespace osprey {

// The line settings' codes are the device-control block's, so they pass as they are.
static_assert(kNoParity == NOPARITY && kOddParity == ODDPARITY && kEvenParity == EVENPARITY &&
              kMarkParity == MARKPARITY && kSpaceParity == SPACEPARITY);
static_assert(kOneStopBit == ONESTOPBIT && kOne5StopBits == ONE5STOPBITS &&
              kTwoStopBits == TWOSTOPBITS);
static_assert(kDtrDisable == DTR_CONTROL_DISABLE && kDtrEnable == DTR_CONTROL_ENABLE &&
              kDtrHandshake == DTR_CONTROL_HANDSHAKE);
static_assert(kHighestBaudRate == serialio::kHighestCommBaud);
static_assert(kRtsDisable == RTS_CONTROL_DISABLE && kRtsEnable == RTS_CONTROL_ENABLE &&
              kRtsHandshake == RTS_CONTROL_HANDSHAKE && kRtsToggle == RTS_CONTROL_TOGGLE);

}  // namespace osprey
