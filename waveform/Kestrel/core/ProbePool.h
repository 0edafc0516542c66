// A few worker threads that run the finder's probes. However many searches
// the user starts, the process never holds more than `workers` threads for
// them, and each one is joined when the pool goes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel {

class ProbePool {
  public:
    static constexpr size_t kWorkers = 8;

    explicit ProbePool(size_t workers = kWorkers);
    // Drops the jobs not yet started and joins the workers, each after the
    // job it is running.
    ~ProbePool();
    ProbePool(const ProbePool&) = delete;
    ProbePool& operator=(const ProbePool&) = delete;

    // Runs `job` on a worker; a worker is started only while every running
    // one is busy and fewer than the limit run.
    void Submit(std::function<void()> job);
    size_t Threads() const;

    // The process's pool, made on first use and kept while the library is loaded,
    // so that unloading a finder never waits for a probe.
    static ProbePool& Shared();

  private:
    void Work();

    const size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace kestrel
