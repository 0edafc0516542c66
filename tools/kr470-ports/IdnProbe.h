// Asks one serial port "*IDN?" at given line settings, with a short time-out.
#pragma once

#include <string>

namespace kr470 {

struct LineSettings {
    int baud = 57600;
    char parity = 'N';  // N, O or E
    int dataBits = 8;
    int stopBits = 1;
};

// Reads "57600,N,8,1" (missing items keep their defaults). False when an
// item is not understood or the baud rate is not one termios knows.
bool ParseLineSettings(const std::string& text, LineSettings& settings);

struct ProbeResult {
    bool answered = false;
    std::string text;  // the reply's first line, or why there was none
};

// Opens the device exclusively (its lock file first: a port another program
// holds is never written to, whoever runs this), sets it raw at `settings`,
// sends "*IDN?" and waits at most `timeoutMs` for a line. Never blocks beyond
// that. A held port's text names the holder's PID when its lock file does.
ProbeResult AskIdentification(const std::string& device, const LineSettings& settings,
                              int timeoutMs);

}  // namespace kr470
