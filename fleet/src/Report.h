// The summary at the end: a table for people, a JSON document for programs,
// and the exit status.
#pragma once

#include <string>
#include <vector>

#include "UpdateJob.h"

namespace fleet {

// Exit statuses.
inline constexpr int kAllDone = 0;      // every instrument updated, current (or ready)
inline constexpr int kSomeNotDone = 1;  // at least one refused or failed
inline constexpr int kUsage = 2;        // the command line or the plan was refused
inline constexpr int kStoppedByRequest = 3;
inline constexpr int kReportLost =
    4;  // the updates ran, but the --json report could not be written

// One row per instrument (address, identification before and after, result,
// passes, seconds), then the messages and the instruments that may be left
// in download mode.
std::string SummaryTable(const std::vector<JobReport>& reports);

// {"instruments":[{...},...],"exit_status":N}, one instrument a line.
std::string JsonReport(const std::vector<JobReport>& reports, int exitStatus);

// One instrument's report as one JSON object on one line.
std::string JsonObject(const JobReport& report);

int ExitStatus(const std::vector<JobReport>& reports, bool stopRequested, bool dryRun);

}  // namespace fleet
