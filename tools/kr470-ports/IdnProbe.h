// Asks one serial port "*IDN?" at given line settings, with a short time-out.
#pragma once

#include <string>

#include "LineConfig.h"

namespace kr470 {

struct ProbeResult {
    bool answered = false;
    std::string text;  // the reply's first line, or why there was none
};

// Opens the device exclusively (its lock file first: a port another program
// holds is never written to, whoever runs this), sets it raw at `settings`,
// sends "*IDN?" and waits at most `timeoutMs` for a line. Never blocks beyond
// that. A held port's text names the holder's PID when its lock file does.
ProbeResult AskIdentification(const std::string& device, const serialio::LineConfig& settings,
                              int timeoutMs);

}  // namespace kr470
