#include "reception/network.h"

#include <algorithm>
#include <chrono>

TlNetwork::TlNetwork(int scan_period_ms) : scan_period_ms_(scan_period_ms) {
    thread_.function = &TlNetwork::ServiceLoop;
    thread_.object = this;
}

TlNetwork::~TlNetwork() {
    StopScanning();
}

void TlNetwork::Start() {
    thread_.CreateThread();
}

void TlNetwork::NotifyListener() {
    if (listener_) {
        listener_();
    }
}

void TlNetwork::ServiceLoop(TlThread* thread) {
    using Clock = std::chrono::steady_clock;
    auto period = [&](Clock::time_point now) {
        return scan_period_ms_ < 0 ? Clock::time_point::max()
                                   : now + std::chrono::milliseconds(scan_period_ms_);
    };
    auto next_scan = Clock::now();
    auto next_period = next_scan;
    while (!thread->IsStopRequested()) {
        auto now = Clock::now();
        if (now >= next_scan) {
            bool changed;
            {
                std::lock_guard guard(lock_);
                changed_ = false;
                Scan();
                changed = changed_;
            }
            // Outside the lock, so that the listener may itself read the list.
            if (changed) {
                NotifyListener();
            }
            now = Clock::now();
            if (next_scan >= next_period) {
                next_period = period(now);
            }
            next_scan = next_period;
        }
        const auto wait =
            next_scan == Clock::time_point::max()
                ? platform::kInfinite
                : static_cast<int>(std::clamp<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(next_scan - now)
                              .count() +
                          1,
                      0, 3'600'000));
        if (thread->WaitReadable(ChangeFd(), wait) && DrainChanges()) {
            // At once, and again once whoever lists the interfaces has seen the change too.
            next_period =
                std::min(next_period, Clock::now() + std::chrono::milliseconds(kSettleMs));
            next_scan = Clock::now();
        }
    }
}
