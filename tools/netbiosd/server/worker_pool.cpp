#include "tools/netbiosd/server/worker_pool.h"

#include <pthread.h>

namespace platform::netbios::service {

WorkerPool::WorkerPool(std::size_t max_threads) : max_threads_(max_threads) {}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    ready_.notify_all();
    for (auto& t : threads_) {
        t.join();
    }
}

void WorkerPool::Post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    if (idle_ < queue_.size() && threads_.size() < max_threads_) {
        threads_.emplace_back([this] { Run(); });
    } else {
        ready_.notify_one();
    }
}

void WorkerPool::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-worker");
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        --idle_;
        if (stopping_) {
            return;
        }
        auto work = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        work();
        lock.lock();
    }
}

}  // namespace platform::netbios::service
