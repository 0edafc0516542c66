#include "FleetRun.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <system_error>
#include <thread>

namespace fleet {
namespace {

// The rows in groups that share a line, each group in plan order, the groups
// in the order of their first row.
std::vector<std::vector<size_t>> RowsByLine(size_t rows, const std::vector<std::string>& lines) {
    std::vector<std::vector<size_t>> groups;
    std::map<std::string, size_t> groupOf;
    for (size_t row = 0; row < rows; ++row) {
        if (row >= lines.size() || lines[row].empty()) {
            groups.push_back({row});
            continue;
        }
        auto [at, added] = groupOf.emplace(lines[row], groups.size());
        if (added)
            groups.emplace_back();
        groups[at->second].push_back(row);
    }
    return groups;
}

}  // namespace

std::vector<JobReport> RunFleet(const std::vector<PlanRow>& rows,
                                const std::vector<std::string>& lines, size_t jobs,
                                const JobContext& context) {
    std::vector<JobReport> reports(rows.size());
    const std::vector<std::vector<size_t>> groups = RowsByLine(rows.size(), lines);
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t group; (group = next.fetch_add(1)) < groups.size();) {
            for (size_t row : groups[group]) {
                reports[row] = context.stop.Requested() ? NotStarted(rows[row])
                                                        : RunJob(rows[row], row, context);
            }
        }
    };
    // A stop interrupts the calls waiting for instruments at once. Without the
    // thread for it, a stop still lands between two exchanges.
    std::atomic<bool> finished{false};
    std::optional<std::thread> watcher;
    try {
        watcher.emplace([&] { context.stop.Watch(finished); });
    } catch (const std::system_error&) {
    }
    std::vector<std::thread> threads;
    const size_t count = std::clamp<size_t>(jobs, 1, std::max<size_t>(groups.size(), 1));
    for (size_t i = 0; i < count; ++i) {
        threads.emplace_back(work);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    finished = true;
    if (watcher) {
        watcher->join();
    }
    return reports;
}

}  // namespace fleet
