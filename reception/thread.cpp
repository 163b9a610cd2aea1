#include "reception/thread.h"

#include <sys/resource.h>
#include <unistd.h>

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
    platform::Event* stop = &stop_;
    return platform::WaitAny(std::span<platform::Event* const>(&stop, 1), 0) !=
           platform::kWaitTimeout;
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
