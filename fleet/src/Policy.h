// How the tool answers the update procedure's questions, and the rest of
// what one instrument's update is run with. Every default is the safe answer.
#pragma once

#include <cstdint>
#include <string>

namespace fleet {

struct Policy {
    bool yesSameRevision = false;  // update an instrument already at the update's revision
    bool yesOlderUpdate = false;   // put an older revision on an instrument
    int retryPasses = 0;           // passes repeated after a failed one, per instrument
    bool strictChecking = true;    // every record acknowledged (never on a serial line)
    int32_t replyTimeoutMs = 0;    // 0: the procedure's own time-out
    bool dryRun = false;           // identify and check only
    std::string logFolder = "fleet-logs";
};

}  // namespace fleet
