#include <algorithm>
#include <cctype>

#include "platform/codepage/codepage.h"
#include "platform/netbios/stack_impl.h"
#include "platform/netbios/wire/datagram.h"
#include "platform/netbios/wire/mailslot_write.h"

// Datagrams: mailslot writes from the network handed to local mailslots, and mailslot writes
// sent to other computers.
namespace platform::netbios {

bool Stack::Impl::IsComputerName(const NetbiosName& name) const {
    const NetbiosName ours = wire::MakeName(computer_name_, 0);
    // Any suffix: mailslot writes to a computer go to its <00> name, others to <03> or <20>.
    return !computer_name_.empty() && std::equal(ours.begin(), ours.end() - 1, name.begin());
}

void Stack::Impl::HandleDatagram(std::span<const std::uint8_t> bytes, const UdpSource& from) {
    auto datagram = wire::DecodeDatagram(bytes);
    // Mailslot writes always fit one datagram; pieces of a larger one are not for us.
    if (!datagram || !datagram->Whole() || datagram->scoped) {
        return;
    }
    Lana* lana = LanaForPacket(from);
    if (lana == nullptr) {
        return;
    }
    if (datagram->type == wire::datagram_type::kDirectUnique &&
        FindHeld(*lana, datagram->destination) == nullptr &&
        !IsComputerName(datagram->destination)) {
        return;
    }
    auto write = wire::DecodeMailslotWrite(datagram->user_data);
    if (!write || write->data.size() > config_.max_mailslot_data) {
        return;
    }
    if (!config_.route_mailslot) {
        delivery_.Deliver(write->name, write->data, Clock::now());
        return;
    }
    const bool to_unique_name = datagram->type == wire::datagram_type::kDirectUnique &&
                                !IsComputerName(datagram->destination);
    for (const auto& local :
         config_.route_mailslot(lana->number, datagram->destination, to_unique_name, write->name)) {
        delivery_.Deliver(local, write->data, Clock::now());
    }
}

bool Stack::Impl::WriteMailslot(std::uint8_t lana_number, std::string_view target,
                                std::string_view mailslot, std::span<const std::uint8_t> data) {
    if (data.size() > config_.max_mailslot_data || target.empty() ||
        mailslot.size() > 255 - wire::kMailslotPrefix.size()) {
        return false;
    }
    std::string path(mailslot);
    std::string upper_path = path;
    std::transform(upper_path.begin(), upper_path.end(), upper_path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (!upper_path.starts_with(wire::kMailslotPrefix)) {
        path = std::string(wire::kMailslotPrefix) + path;
    }
    if (!EnsurePorts(false, false, true)) {
        return false;
    }
    const auto smb = wire::EncodeMailslotWrite(path, data, wire::mailslot_class::kUnreliable);

    Lock lock(mutex_);
    Lana* lana = FindLana(lana_number);
    if (lana == nullptr) {
        return false;
    }
    std::uint8_t type = wire::datagram_type::kBroadcast;
    NetbiosName destination = wire::WildcardName();
    std::optional<std::uint32_t> unicast;  // else to every subnet's broadcast address
    if (target != "*") {
        const auto name = platform::codepage::NetbiosName(target);
        if (!name) {
            return false;
        }
        // A computer answers to <00> when it runs a file service, and to <03> where it only
        // receives messages.
        std::optional<wire::NbEntry> found;
        for (std::uint8_t suffix : {std::uint8_t{0x00}, std::uint8_t{0x03}}) {
            destination = wire::MakeName(*name, suffix);
            if (IsComputerName(destination)) {
                found = wire::NbEntry{0, lana->iface.Primary().address};
            } else {
                found = Resolve(lock, lana_number, destination);
            }
            if (found) {
                break;
            }
        }
        lana = FindLana(lana_number);
        if (!found || lana == nullptr) {
            return false;
        }
        if (found->flags & wire::kGroupFlag) {
            type = wire::datagram_type::kDirectGroup;
        } else {
            type = wire::datagram_type::kDirectUnique;
            unicast = found->address;
        }
    }
    if (!datagram_socket_) {
        return false;
    }
    const std::uint16_t id = next_datagram_id_++;
    auto packet_from = [&](const Subnet& subnet) {
        return wire::EncodeDatagram(type, id, subnet.address, config_.datagram_port,
                                    wire::MakeName(computer_name_, 0), destination, smb);
    };
    if (unicast) {
        const Subnet& from = lana->iface.SubnetFor(*unicast);
        return SendUdp(datagram_socket_.get(), packet_from(from), *unicast, config_.datagram_port,
                       from.address, 0);
    }
    Broadcast(*lana, datagram_socket_.get(), config_.datagram_port, packet_from);
    return true;
}

}  // namespace platform::netbios
