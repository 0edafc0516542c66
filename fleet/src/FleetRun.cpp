#include "FleetRun.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <ostream>

namespace fleet {
namespace {

// A row whose job threw: the job's objects are gone (its port closed and
// put back), so the row is only reported.
JobReport Failed(const PlanRow& row, const char* why) {
    JobReport report = NotStarted(row);
    report.outcome = Outcome::kFailed;
    report.message = why;
    return report;
}

// A row the job never reported on the board: its result is its last state there.
JobReport Ended(size_t row, JobReport report, const JobContext& context) {
    context.board.SetState(row, OutcomeName(report.outcome), true);
    return report;
}

JobReport RunRow(const std::vector<PlanRow>& rows, size_t row, const JobContext& context) {
    if (context.stop.Requested()) {
        return Ended(row, NotStarted(rows[row]), context);
    }
    try {
        return RunJob(rows[row], row, context);
    } catch (const std::exception& error) {
        return Ended(row, Failed(rows[row], error.what()), context);
    } catch (...) {
        return Ended(row, Failed(rows[row], "the update ended with an unknown error"), context);
    }
}

// The workers that have run out of rows.
class Finished {
  public:
    void One() {
        {
            std::lock_guard lock(mutex_);
            ++count_;
        }
        changed_.notify_all();
    }
    // Blocks until `workers` have finished, calling `tick` every redraw interval.
    void WaitFor(size_t workers, const std::function<void()>& tick) {
        std::unique_lock lock(mutex_);
        while (!changed_.wait_for(lock, ProgressBoard::kRedrawInterval,
                                  [&] { return count_ >= workers; })) {
            lock.unlock();
            tick();
            lock.lock();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t count_ = 0;
};

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
        if (added) {
            groups.emplace_back();
        }
        groups[at->second].push_back(row);
    }
    return groups;
}

// Makes up to `wanted` threads running `work`; stops at the first refusal.
std::vector<std::thread> StartWorkers(size_t wanted, const std::function<void()>& work,
                                      const ThreadMaker& makeThread, std::ostream& notes) {
    std::vector<std::thread> threads;
    threads.reserve(wanted);
    for (size_t i = 0; i < wanted; ++i) {
        try {
            threads.push_back(makeThread(work));
        } catch (const std::exception& error) {  // std::system_error: no thread to be had
            notes << "kr470-fleet: " << threads.size() << " of " << wanted
                  << " update threads could be made (" << error.what() << "); "
                  << (threads.empty() ? "the updates run one at a time"
                                      : "the updates run on those")
                  << '\n'
                  << std::flush;
            break;
        }
    }
    return threads;
}

}  // namespace

std::thread MakeThread(std::function<void()> work) {
    return std::thread(std::move(work));
}

std::vector<JobReport> RunFleet(const std::vector<PlanRow>& rows,
                                const std::vector<std::string>& lines, size_t jobs,
                                const JobContext& context, std::ostream& notes,
                                const ThreadMaker& makeThread) {
    std::vector<JobReport> reports(rows.size());
    const std::vector<std::vector<size_t>> groups = RowsByLine(rows.size(), lines);
    std::atomic<size_t> next{0};
    Finished finished;
    const std::function<void()> work = [&] {
        for (size_t group; (group = next.fetch_add(1)) < groups.size();) {
            for (size_t row : groups[group]) {
                reports[row] = RunRow(rows, row, context);
            }
        }
        finished.One();
    };
    const size_t wanted = std::clamp<size_t>(jobs, 1, std::max<size_t>(groups.size(), 1));
    std::vector<std::thread> threads = StartWorkers(wanted, work, makeThread, notes);
    if (threads.empty()) {
        work();  // not even one thread: the rows run here, one after another
    }
    // Meanwhile this thread draws the board's changes that came too soon after
    // a redraw, and passes a stop on to the calls waiting for instruments.
    finished.WaitFor(threads.size(), [&] {
        context.board.Refresh();
        if (context.stop.Requested()) {
            context.stop.DeliverInterrupts();
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    return reports;
}

}  // namespace fleet
