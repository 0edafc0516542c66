// One instrument's update (or dry run) through the plug-in's procedure, on
// the calling thread, and what came of it.
#pragma once

#include <optional>
#include <string>

#include "InstrumentIO.h"
#include "Plan.h"
#include "Policy.h"
#include "ProgressBoard.h"
#include "StopSignal.h"

namespace fleet {

// updated and current count as success; ready is a dry run's success.
// unconfirmed: committed, but the instrument did not come back as the update
// file promised (model, serial number, revision), or did not say.
enum class Outcome { kUpdated, kCurrent, kReady, kRefused, kFailed, kStopped, kUnconfirmed };
const char* OutcomeName(Outcome outcome);

struct JobReport {
    std::string address;
    std::string updateFile;
    std::optional<std::string> identificationBefore, identificationAfter;
    Outcome outcome = Outcome::kFailed;
    std::string message;  // why, for anything but updated
    int passes = 0;
    double seconds = 0;
    bool mayBeInDownloadMode = false;
    std::string logFile;
};

struct JobContext {
    const Policy& policy;
    kestrel::IOFactory& factory;
    const StopSignal& stop;
    ProgressBoard& board;
};

// Runs row `index` of the plan. The procedure's per-thread values (update
// file, strict checking, window, wait) are set for this thread and put back
// after.
JobReport RunJob(const PlanRow& row, size_t index, const JobContext& context);

// The report of a row never started because a stop came first.
JobReport NotStarted(const PlanRow& row);

// A log file name for row `index`: its number and its address, with anything
// but letters, digits, '.', '-' and '_' made '_'.
std::string LogFileName(size_t index, const std::string& address);

}  // namespace fleet
