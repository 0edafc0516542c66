#include "ProbePool.h"

namespace kestrel {

ProbePool::ProbePool(size_t workers) : limit_(workers == 0 ? 1 : workers) {}

ProbePool::~ProbePool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void ProbePool::Submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ < jobs_.size() && threads_.size() < limit_) {
            ++idle_;  // counted from its start, so a burst starts no more than it needs
            threads_.emplace_back([this] { Work(); });
        }
    }
    wake_.notify_one();
}

size_t ProbePool::Threads() const {
    std::lock_guard lock(mutex_);
    return threads_.size();
}

void ProbePool::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        --idle_;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;  // what it holds goes before the lock is taken again
        lock.lock();
        ++idle_;
    }
}

ProbePool& ProbePool::Shared() {
    static ProbePool pool;
    return pool;
}

}  // namespace kestrel
