#include "platform/netbios/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

namespace platform::netbios {
namespace {

constexpr unsigned kLanaCount = 255;  // 0..254; 255 is not a LANA number

std::uint32_t Ipv4(const sockaddr* a) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr);
}

std::string Key(const InterfaceInfo& i) {
    return i.name + "#" + std::to_string(i.index);
}

Subnet SubnetOf(const ifaddrs& a, bool loopback) {
    Subnet subnet;
    subnet.address = Ipv4(a.ifa_addr);
    subnet.netmask = a.ifa_netmask ? Ipv4(a.ifa_netmask) : 0xFFFFFFFF;
    if ((a.ifa_flags & IFF_BROADCAST) && !loopback) {
        // Added without one, the system reports the address itself (or nothing); the kernel
        // still sends to the prefix's broadcast address.
        const std::uint32_t configured =
            a.ifa_broadaddr != nullptr && a.ifa_broadaddr->sa_family == AF_INET
                ? Ipv4(a.ifa_broadaddr)
                : 0;
        if (configured != 0 && configured != subnet.address) {
            subnet.broadcast = configured;
        } else if (~subnet.netmask > 1) {
            subnet.broadcast = subnet.address | ~subnet.netmask;
        }
    }
    return subnet;
}

}  // namespace

bool InterfaceInfo::HasAddress(std::uint32_t address) const {
    return std::any_of(subnets.begin(), subnets.end(),
                       [&](const Subnet& s) { return s.address == address; });
}

const Subnet& InterfaceInfo::SubnetFor(std::uint32_t peer, std::uint32_t written_to) const {
    for (const auto& s : subnets) {
        if (s.Contains(peer)) {
            return s;
        }
    }
    for (const auto& s : subnets) {
        if (s.address == written_to) {
            return s;
        }
    }
    return Primary();
}

bool InterfaceInfo::CanBroadcast() const {
    return std::any_of(subnets.begin(), subnets.end(),
                       [](const Subnet& s) { return s.broadcast != 0; });
}

std::optional<std::vector<InterfaceInfo>> ListIpv4Interfaces(const std::vector<std::string>& only) {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        return std::nullopt;
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> list(raw, &::freeifaddrs);
    std::vector<InterfaceInfo> result;
    std::map<std::string, std::array<std::uint8_t, 6>> macs;
    std::array<std::uint8_t, 6> first_mac{};
    for (ifaddrs* a = list.get(); a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || !(a->ifa_flags & IFF_UP)) {
            continue;
        }
        std::string name = a->ifa_name;
        // Address labels ("eth0:1") belong to their interface.
        name = name.substr(0, name.find(':'));
        if (a->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
            std::array<std::uint8_t, 6> mac{};
            std::memcpy(mac.data(), ll->sll_addr, std::min<std::size_t>(ll->sll_halen, 6));
            macs[name] = mac;
            if (first_mac == std::array<std::uint8_t, 6>{}) {
                first_mac = mac;
            }
            continue;
        }
        if (a->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) {
            continue;
        }
        const bool loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
        const Subnet subnet = SubnetOf(*a, loopback);
        auto it = std::find_if(result.begin(), result.end(),
                               [&](const InterfaceInfo& i) { return i.name == name; });
        if (it != result.end()) {
            it->subnets.push_back(subnet);
            continue;
        }
        InterfaceInfo info;
        info.name = name;
        info.index = ::if_nametoindex(name.c_str());
        info.loopback = loopback;
        info.subnets.push_back(subnet);
        if (info.index != 0) {
            result.push_back(std::move(info));
        }
    }
    for (auto& i : result) {
        auto m = macs.find(i.name);
        i.mac =
            m != macs.end() && m->second != std::array<std::uint8_t, 6>{} ? m->second : first_mac;
    }
    return result;
}

std::vector<std::uint8_t> LanaNumbers::Assign(const std::vector<InterfaceInfo>& present) {
    std::vector<std::uint8_t> numbers;
    for (const auto& i : present) {
        const std::string key = Key(i);
        if (auto it = assigned_.find(key); it != assigned_.end()) {
            numbers.push_back(it->second);
            continue;
        }
        if (next_ >= kLanaCount) {
            // Every number was handed out once: forget interfaces that are gone and reuse
            // their numbers, never one of an interface still present.
            std::set<std::string> keep;
            for (const auto& p : present) {
                keep.insert(Key(p));
            }
            std::erase_if(assigned_, [&](const auto& a) { return !keep.contains(a.first); });
        }
        std::set<std::uint8_t> used;
        for (const auto& a : assigned_) {
            used.insert(a.second);
        }
        unsigned n = next_ < kLanaCount ? next_ : 0;
        while (n < kLanaCount && used.contains(static_cast<std::uint8_t>(n))) {
            ++n;
        }
        if (n >= kLanaCount) {
            numbers.push_back(0xFF);  // more than 255 interfaces at once: left out
            continue;
        }
        assigned_[key] = static_cast<std::uint8_t>(n);
        next_ = std::max(next_, n + 1);
        numbers.push_back(static_cast<std::uint8_t>(n));
    }
    return numbers;
}

}  // namespace platform::netbios
