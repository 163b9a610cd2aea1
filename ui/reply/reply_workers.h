#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

// The threads on which replies are sent, so that the user-interface thread never waits for a
// name query or a session. Finished threads are joined when the next one starts; the rest when
// the owner goes.
class ReplyWorkers {
  public:
    void Start(std::function<void()> work) {
        std::erase_if(workers_, [](const Worker& w) { return w.done->load(); });
        auto done = std::make_shared<std::atomic<bool>>(false);
        workers_.push_back(Worker{done, std::jthread([work = std::move(work), done] {
                                      work();
                                      done->store(true);
                                  })});
    }
    // Waits for every reply still on its way.
    void JoinAll() { workers_.clear(); }

  private:
    struct Worker {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::list<Worker> workers_;
};
