// The plan's rows run by `jobs` threads at once, each row's update on a
// thread of its own choosing; a stop lets the running ones end between two
// records and starts no more. A thread the system refuses only lowers the
// parallelism: the rows run on the threads that could be made, or on the
// calling thread when none could, and every row gets a report.
#pragma once

#include <functional>
#include <iosfwd>
#include <thread>
#include <vector>

#include "UpdateJob.h"

namespace fleet {

// Makes one worker thread; throws (std::system_error) when the system refuses.
using ThreadMaker = std::function<std::thread(std::function<void()>)>;

// std::thread itself.
std::thread MakeThread(std::function<void()> work);

// The reports in the plan's order. A refused thread is said on `notes`.
std::vector<JobReport> RunFleet(const std::vector<PlanRow>& rows, size_t jobs,
                                const JobContext& context, std::ostream& notes,
                                const ThreadMaker& makeThread = MakeThread);

}  // namespace fleet
