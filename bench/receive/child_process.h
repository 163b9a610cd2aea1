#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A program run in the background whose standard output lines are collected, each with the
// moment it was read.
class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    // Waits for the next line; false on time-out.
    bool NextLine(std::string& line, Clock::time_point& when, std::chrono::milliseconds limit);
    // SIGTERM, then waits; returns how long the program took to end.
    std::chrono::milliseconds Terminate();

  private:
    void ReadLoop();

    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::thread reader_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::pair<std::string, Clock::time_point>> lines_;
};
