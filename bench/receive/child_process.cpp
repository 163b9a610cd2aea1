#include "bench/receive/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out_fd_ = fds[0];
    reader_ = std::thread([this] { ReadLoop(); });
}

ChildProcess::~ChildProcess() {
    Terminate();
    if (reader_.joinable()) {
        reader_.join();
    }
    if (out_fd_ >= 0) {
        ::close(out_fd_);
    }
}

void ChildProcess::ReadLoop() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
        if (n <= 0) {
            return;
        }
        auto now = Clock::now();
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t at;
        while ((at = pending.find('\n')) != std::string::npos) {
            std::lock_guard g(m_);
            lines_.emplace_back(pending.substr(0, at), now);
            pending.erase(0, at + 1);
            cv_.notify_all();
        }
    }
}

bool ChildProcess::NextLine(std::string& line, Clock::time_point& when,
                            std::chrono::milliseconds limit) {
    std::unique_lock g(m_);
    if (!cv_.wait_for(g, limit, [&] { return !lines_.empty(); })) {
        return false;
    }
    line = std::move(lines_.front().first);
    when = lines_.front().second;
    lines_.pop_front();
    return true;
}

std::chrono::milliseconds ChildProcess::Terminate() {
    if (pid_ <= 0) {
        return {};
    }
    auto start = Clock::now();
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}
