#include "reception/network.h"

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
    while (!thread->IsStopRequested()) {
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
        thread->Sleep(scan_period_ms_);
    }
}
