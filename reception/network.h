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

// A transport's interfaces, kept current by a scanning thread: at the start, whenever the
// transport's change descriptor says something changed (and once more a little later), and every
// scan_period_ms (kInfinite: never unasked). The listener is told (outside the lock, on the
// scanning thread) whenever the current list changed.
class TlNetwork {
  public:
    static constexpr int kScanPeriodMs = 5000;
    // After a change the list is read again this much later: whoever builds it (the NetBIOS
    // service) may not have seen the change yet.
    static constexpr int kSettleMs = 2000;

    explicit TlNetwork(int scan_period_ms = kScanPeriodMs);
    virtual ~TlNetwork();
    TlNetwork(const TlNetwork&) = delete;
    TlNetwork& operator=(const TlNetwork&) = delete;

    // Brings the current list up to date; runs with the lock held and sets changed_ when it added
    // or removed an interface.
    virtual void Scan() {}
    // Recreates the full list from scratch.
    virtual void Rebuild() { full_.clear(); }
    // A descriptor that turns readable when the interfaces may have changed (-1: none), and the
    // read of what it says: true when something changed.
    virtual int ChangeFd() const { return -1; }
    virtual bool DrainChanges() { return false; }

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
    // Before Start only.
    void set_scan_period(int ms) { scan_period_ms_ = ms; }

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
