#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "reception/thread.h"

// One interface through which the machine reaches a network (for NetBIOS, one adapter).
class TlNetworkInterface {
  public:
    virtual ~TlNetworkInterface() = default;
    // Prepares the interface before ports are built on it.
    virtual void Reset() {}

    // Set on every listed interface before a scan and cleared on each one the scan finds.
    int stale = 0;
};

using InterfaceList = std::vector<std::unique_ptr<TlNetworkInterface>>;

// A transport's interfaces, kept current by a scanning thread every scan_period_ms; the listener
// is told (outside the lock, on the scanning thread) whenever the current list changed.
class TlNetwork {
  public:
    static constexpr int kScanPeriodMs = 5000;

    explicit TlNetwork(int scan_period_ms = kScanPeriodMs);
    virtual ~TlNetwork();
    TlNetwork(const TlNetwork&) = delete;
    TlNetwork& operator=(const TlNetwork&) = delete;

    // Brings the current list up to date; runs with the lock held and sets changed_ when it added
    // or removed an interface.
    virtual void Scan() {}
    // Recreates the full list from scratch.
    virtual void Rebuild() { full_.clear(); }

    // Set before Start.
    void SetListener(std::function<void()> listener) { listener_ = std::move(listener); }
    void Start();
    // Stops the scanning thread; every transport's destructor calls it first.
    void StopScanning() { thread_.Stop(); }

    // Held while the lists are scanned or read.
    std::mutex& lock() { return lock_; }
    // The interfaces the machine has now, in the order first seen; read under lock().
    const InterfaceList& current() const { return current_; }
    const InterfaceList& full() const { return full_; }

  protected:
    void NotifyListener();

    bool changed_ = false;
    InterfaceList full_;
    InterfaceList current_;

  private:
    void ServiceLoop(TlThread* thread);

    TlThreadClassFunction<TlNetwork> thread_;
    std::mutex lock_;
    std::function<void()> listener_;
    int scan_period_ms_;
};
