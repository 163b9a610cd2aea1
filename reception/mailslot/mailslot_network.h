#pragma once

#include <string>

#include "reception/network.h"

// The mailslot transport seen as a network: one interface named after the mailslot. Its list
// never changes, so it never reports a change; the reception service builds its mailslot port
// directly.
class TlMailslotInterface : public TlNetworkInterface {
  public:
    explicit TlMailslotInterface(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

  private:
    std::string name_;
};

class TlMailslotNetwork : public TlNetwork {
  public:
    using TlNetwork::TlNetwork;
    ~TlMailslotNetwork() override { StopScanning(); }

    void Scan() override {}
    void Rebuild() override;
};
