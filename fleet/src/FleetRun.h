// The plan's rows run by `jobs` threads at once, each row's update on a
// thread of its own choosing; a stop lets the running ones end between two
// records and starts no more.
#pragma once

#include <vector>

#include "UpdateJob.h"

namespace fleet {

// The reports in the plan's order.
std::vector<JobReport> RunFleet(const std::vector<PlanRow>& rows, size_t jobs,
                                const JobContext& context);

}  // namespace fleet
