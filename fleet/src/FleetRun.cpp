#include "FleetRun.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace fleet {

std::vector<JobReport> RunFleet(const std::vector<PlanRow>& rows, size_t jobs,
                                const JobContext& context) {
    std::vector<JobReport> reports(rows.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t row; (row = next.fetch_add(1)) < rows.size();) {
            reports[row] =
                context.stop.Requested() ? NotStarted(rows[row]) : RunJob(rows[row], row, context);
        }
    };
    std::vector<std::thread> threads;
    const size_t count = std::clamp<size_t>(jobs, 1, std::max<size_t>(rows.size(), 1));
    for (size_t i = 0; i < count; ++i) {
        threads.emplace_back(work);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return reports;
}

}  // namespace fleet
