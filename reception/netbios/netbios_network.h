#pragma once

#include <cstdint>

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

// The NetBIOS adapters present, found by enumeration on every scan.
class TlNetbiosNetwork : public TlNetwork {
  public:
    using TlNetwork::TlNetwork;
    ~TlNetbiosNetwork() override { StopScanning(); }

    void Scan() override;
    void Rebuild() override;
};
