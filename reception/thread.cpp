#include "reception/thread.h"

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

TlThread::TlThread() = default;

TlThread::~TlThread() {
    Stop();
}

bool TlThread::CreateThread() {
    if (thread_.joinable() || stop_.IsSet()) {
        return false;
    }
    running_ = true;
    thread_ = std::thread([this] {
        tid_ = static_cast<int>(::gettid());
        InitInstance();
        running_ = false;
    });
    return true;
}

void TlThread::InitInstance() {
    Main();
}

void TlThread::RequestStop() {
    stop_.Set();
    // Let the worker reach its next stop check promptly; refused without privilege, which is fine.
    if (int tid = tid_.load(); tid != 0 && running_) {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -1);
    }
}

void TlThread::WaitForExit() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

void TlThread::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    if (running_) {
        RequestStop();
    }
    // A thread that ended on its own is only joined, which returns at once.
    WaitForExit();
}

bool TlThread::IsStopRequested() {
    return stop_.IsSet();
}

int TlThread::Sleep(int ms) {
    platform::Event* stop = &stop_;
    return platform::WaitAny(std::span<platform::Event* const>(&stop, 1), ms);
}

bool TlThread::Wait(std::span<platform::Event* const> handles, int timeout_ms) {
    std::vector<platform::Event*> all(handles.begin(), handles.end());
    all.push_back(&stop_);
    int result = platform::WaitAny(all, timeout_ms);
    if (result == platform::kWaitTimeout) {
        return false;
    }
    return result != static_cast<int>(handles.size());
}

bool TlThread::WaitReadable(int fd, int timeout_ms) {
    pollfd fds[] = {{fd, POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    int ready;
    while ((ready = ::poll(fds, 2, timeout_ms)) < 0 && errno == EINTR) {
    }
    return ready > 0 && fds[1].revents == 0 && fds[0].revents != 0;
}
