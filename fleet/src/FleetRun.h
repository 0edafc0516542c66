// The plan's rows run by `jobs` threads at once, each row's update on a
// thread of its own choosing, except that rows on one line (the instruments
// behind one "++" controller) run one after another on one thread, whatever
// `jobs` says; a stop lets the running ones end between two records and
// starts no more.
#pragma once

#include <string>
#include <vector>

#include "UpdateJob.h"

namespace fleet {

// The reports in the plan's order. `lines` holds each row's line (its
// PortKey's `line`); an empty one shares with no other row.
std::vector<JobReport> RunFleet(const std::vector<PlanRow>& rows,
                                const std::vector<std::string>& lines, size_t jobs,
                                const JobContext& context);

}  // namespace fleet
