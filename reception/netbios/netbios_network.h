#pragma once

#include <cstdint>

#include "platform/netbios/interface_watch.h"
#include "reception/network.h"

// One NetBIOS adapter (LANA).
class TlNetbiosInterface : public TlNetworkInterface {
  public:
    static constexpr std::uint8_t kSessions = 20;
    static constexpr std::uint8_t kNames = 30;

    explicit TlNetbiosInterface(std::uint8_t lana) : lana_(lana) {}
    // Resets the adapter with room for 20 sessions and 30 names.
    void Reset() override;

    std::uint8_t lana() const { return lana_; }

  private:
    std::uint8_t lana_;
};

// The NetBIOS adapters present, found by enumeration on every scan: when the machine's interfaces
// change, and every scan_period_ms besides (by default never; every kScanPeriodMs where the
// interfaces cannot be watched).
class TlNetbiosNetwork : public TlNetwork {
  public:
    explicit TlNetbiosNetwork(int scan_period_ms = platform::kInfinite)
        : TlNetwork(scan_period_ms) {
        if (!watch_.valid() && scan_period_ms < 0) {
            set_scan_period(kScanPeriodMs);
        }
    }
    ~TlNetbiosNetwork() override { StopScanning(); }

    void Scan() override;
    void Rebuild() override;
    int ChangeFd() const override { return watch_.fd(); }
    bool DrainChanges() override { return watch_.Drain(); }

  private:
    platform::netbios::InterfaceWatch watch_;
};
