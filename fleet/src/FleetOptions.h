// The command line: a plan file, or addresses with one update file; the
// policy flags; where the logs and the JSON report go.
#pragma once

#include <string>
#include <vector>

#include "Policy.h"

namespace fleet {

struct FleetOptions {
    Policy policy;
    std::string planFile;
    std::string updateFile;
    std::vector<std::string> addresses;
    size_t jobs = 0;  // 0: one per distinct port or host, at most kDefaultJobsCap
    std::string jsonFile;
    bool help = false;
    bool version = false;
};

// The most updates run at once unless -j says otherwise: each is a thread.
inline constexpr size_t kDefaultJobsCap = 64;

// The updates run at once: -j, else one per distinct port or host up to the cap.
size_t JobsToRun(const FleetOptions& options, size_t distinctHosts);

extern const char* const kUsageText;

// False with `error` (one sentence) when the command line is refused.
bool ParseOptions(int argc, char** argv, FleetOptions& options, std::string& error);

}  // namespace fleet
