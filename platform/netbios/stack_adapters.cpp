#include <set>

#include "platform/netbios/stack_impl.h"

// The adapters: one per interface the stack serves, listed again as interfaces come and go, and
// found for a packet by the address it came to or from.
namespace platform::netbios {

Stack::Impl::Lana* Stack::Impl::FindLana(std::uint8_t number) {
    auto it = lanas_.find(number);
    return it != lanas_.end() && it->second.present ? &it->second : nullptr;
}

const Stack::Impl::Lana* Stack::Impl::LanaForAddress(std::uint32_t address) const {
    for (const auto& [n, lana] : lanas_) {
        if (lana.present && lana.iface.HasAddress(address)) {
            return &lana;
        }
    }
    return nullptr;
}

Stack::Impl::Lana* Stack::Impl::LanaForAddress(std::uint32_t address) {
    return const_cast<Lana*>(std::as_const(*this).LanaForAddress(address));
}

Stack::Impl::Lana* Stack::Impl::LanaForPacket(const UdpSource& from) {
    // Sent to one of our addresses: that address's adapter, even when it came in over loopback
    // from a program on this machine. Broadcasts: the interface they arrived on.
    if (Lana* lana = LanaForAddress(from.destination)) {
        return lana;
    }
    for (auto& [n, lana] : lanas_) {
        if (lana.present && static_cast<int>(lana.iface.index) == from.interface_index) {
            return &lana;
        }
    }
    return nullptr;
}

bool Stack::Impl::IsOwnNameServicePacket(const UdpSource& from) const {
    // Our broadcasts come back to our own socket.
    return from.port == config_.name_port && LanaForAddress(from.address) != nullptr;
}

void Stack::Impl::DropLana(Lana& lana, std::uint8_t listen_code, Completions& done) {
    for (auto& [name, entry] : lana.names) {
        FailListens(entry, listen_code, done);
        RefuseQueued(lana.number, name, wire::session_error::kCalledNotPresent);
    }
    lana.names.clear();
    sessions_.Abort(lana.number, nullptr, true);
    std::erase_if(repeated_, [&](const Repeated& r) { return r.lana == lana.number; });
    changed_.notify_all();
}

void Stack::Impl::RefreshInterfaces(Completions& done) {
    auto list = ListIpv4Interfaces(config_.interfaces);
    if (!list) {
        return;  // the system could not be asked: that says nothing about the adapters
    }
    const auto numbers = lana_numbers_.Assign(*list);
    std::set<std::uint8_t> seen;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const std::uint8_t n = numbers[i];
        if (n == 0xFF) {
            continue;
        }
        seen.insert(n);
        auto [it, inserted] = lanas_.try_emplace(n);
        Lana& lana = it->second;
        if (inserted || !lana.present) {
            lana = Lana{};
            lana.number = n;
            lana.max_names = config_.names_per_lana;
        }
        lana.iface = (*list)[i];
        lana.present = true;
        lana_present_[n] = true;
    }
    for (auto& [n, lana] : lanas_) {
        if (lana.present && !seen.contains(n)) {
            DropLana(lana, NRC_BRIDGE, done);
            lana.present = false;
            lana_present_[n] = false;
        }
    }
}

}  // namespace platform::netbios
