// The simulator's command line: what instrument to be, where to listen and
// which faults to play.
#pragma once

#include <string>

#include "Instrument.h"
#include "PlusPlusFace.h"
#include "Vxi11Core.h"

namespace kr470 {

struct SimSettings {
    InstrumentOptions instrument;
    std::string linkPath;
    std::string transcriptPath;
    int tcpPort = -1;
    int baud = 0;           // pace reading to this rate (10 bits a byte); 0: as fast as it comes
    int replyDelayMs = 0;   // answer slowly
    bool stats = false;     // report each pass's line use on stderr
    GpibFaceSettings gpib;  // the "++" controller face, when enabled
    Vxi11Options vxi11;     // the LAN face, when its port is set
};

// Parses the whole command line. --help and --version print and end the
// process with status 0; a bad option or value ends it with status 2.
SimSettings ParseSimArguments(int argc, char** argv);

}  // namespace kr470
