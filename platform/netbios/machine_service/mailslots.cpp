#include <sys/socket.h>

#include <algorithm>

#include "platform/netbios/machine_service/client_parts.h"

// Mailslots of the service's held for this program, and mailslot writes the service sends.
namespace platform::netbios::service {

std::optional<platform::mailslot::Mailslot> ServiceClient::OpenMailslot(
    std::string_view name, std::size_t max_message_size) {
    if (name.empty() || name.size() > 255) {
        return std::nullopt;
    }
    Request request;
    request.kind = Request::Kind::OpenMailslot;
    request.mailslot = std::string(name);
    request.max_size = static_cast<std::uint16_t>(std::min<std::size_t>(max_message_size, 65535));
    auto waiter = std::make_shared<Waiter>();
    if (Ask(request, waiter) != NRC_GOODRET || !waiter->handed) {
        return std::nullopt;
    }
    auto lease = std::make_shared<MailslotLease>(weak_from_this(), waiter->generation,
                                                 platform::mailslot::CanonicalName(name));
    auto mailslot =
        platform::mailslot::Mailslot::Adopt(waiter->handed.release(), max_message_size, lease);
    std::lock_guard lock(mutex_);
    std::erase_if(leases_, [](const auto& l) { return l.expired(); });
    leases_.push_back(lease);
    if (live_generation_.load() != waiter->generation) {
        lease->WakeReader();  // its connection ended already
    }
    return mailslot;
}

bool ServiceClient::WriteMailslot(std::uint8_t lana, std::string_view computer_or_star,
                                  std::string_view mailslot, std::span<const std::uint8_t> data) {
    if (computer_or_star.empty() || computer_or_star.size() > 15 || mailslot.empty() ||
        mailslot.size() > 255 || data.size() > kMaxMailslotData) {
        return false;
    }
    Request request;
    request.kind = Request::Kind::WriteMailslot;
    request.lana = lana;
    request.computer = std::string(computer_or_star);
    request.mailslot = std::string(mailslot);
    request.data.assign(data.begin(), data.end());
    return Ask(request, std::make_shared<Waiter>()) == NRC_GOODRET;
}

void ServiceClient::CloseMailslot(std::uint64_t generation, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (!connection_ || connection_->generation != generation) {
        return;  // that connection's mailslots went with it
    }
    Request request;
    request.kind = Request::Kind::CloseMailslot;
    request.mailslot = name;
    const auto bytes = EncodeRequest(request);
    // No answer comes; should the service not take it now, it drops the mailslot with us.
    [[maybe_unused]] auto n =
        ::send(connection_->fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace platform::netbios::service
