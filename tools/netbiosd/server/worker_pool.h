#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads for the commands that wait on the network (adding a name, calling, listing adapters),
// so that none of them holds up another program's. Threads are started as work needs them, up to
// a bound; past it, work waits its turn.
namespace platform::netbios::service {

class WorkerPool {
  public:
    explicit WorkerPool(std::size_t max_threads);
    // Lets the work already started finish; work not started yet is dropped.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void Post(std::function<void()> work);

  private:
    void Run();

    const std::size_t max_threads_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace platform::netbios::service
