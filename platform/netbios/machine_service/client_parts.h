#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/machine_service/client.h"
#include "platform/netbios/ncb.h"
#include "platform/netbios/socket.h"

// What the parts of the service client share: its connection to the service, a command waiting
// for its answer, and a mailslot it holds of the service's.
namespace platform::netbios::service {

using Clock = std::chrono::steady_clock;

struct ServiceClient::Connection {
    UniqueFd fd;
    std::uint64_t generation = 0;
};

struct ServiceClient::Waiter {
    NCB* ncb = nullptr;  // none for a mailslot
    std::uint8_t command = 0;
    bool async = false;  // the control block is completed here, not by the caller
    std::uint64_t generation = 0;
    bool done = false;
    std::uint8_t code = NRC_PENDING;
    UniqueFd handed;  // a mailslot's read end
};

// Keeps a mailslot of the service's for this program, as long as the connection it came over.
class ServiceClient::MailslotLease : public platform::mailslot::Lease {
  public:
    MailslotLease(std::weak_ptr<ServiceClient> client, std::uint64_t generation, std::string name)
        : client_(std::move(client)), generation_(generation), name_(std::move(name)) {}
    ~MailslotLease() override {
        if (auto c = client_.lock()) {
            c->CloseMailslot(generation_, name_);
        }
    }
    bool Live() const override {
        auto c = client_.lock();
        return c && c->live_generation_.load() == generation_;
    }
    std::uint64_t generation() const { return generation_; }

  private:
    std::weak_ptr<ServiceClient> client_;
    std::uint64_t generation_;
    std::string name_;
};

}  // namespace platform::netbios::service
