#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The IPv4 interfaces the stack can use, and the LANA numbers it gives them.
namespace platform::netbios {

// One IPv4 address of an interface and the subnet it opens there. Addresses are in host byte
// order.
struct Subnet {
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
    // The subnet's broadcast address: as configured, else the one its prefix gives (as the
    // kernel sends there); 0 where there is none (loopback, point-to-point, /31, /32).
    std::uint32_t broadcast = 0;

    bool Contains(std::uint32_t peer) const { return ((peer ^ address) & netmask) == 0; }
    // Where a broadcast goes: the subnet broadcast, or the node itself where there is none.
    std::uint32_t BroadcastTarget() const { return broadcast != 0 ? broadcast : address; }
};

struct InterfaceInfo {
    std::string name;
    unsigned index = 0;
    bool loopback = false;
    // Every IPv4 address of the interface, in the system's order; never empty. A node with two
    // subnets on one interface registers, defends and answers on each of them.
    std::vector<Subnet> subnets;
    // The interface's hardware address; where it has none (loopback, tunnels), that of the first
    // interface that has one, so that node status names the machine.
    std::array<std::uint8_t, 6> mac{};

    const Subnet& Primary() const { return subnets.front(); }
    bool HasAddress(std::uint32_t address) const;
    // The subnet a peer is on; else the one whose address it wrote to; else the first.
    const Subnet& SubnetFor(std::uint32_t peer, std::uint32_t written_to = 0) const;
    // Whether registration and queries go out as broadcasts on some subnet; otherwise the node is
    // alone on the interface and names are held at once.
    bool CanBroadcast() const;
};

// Every IPv4 interface that is up, in the system's order; only those named in `only` unless it is
// empty. nullopt when the system cannot be asked.
std::optional<std::vector<InterfaceInfo>> ListIpv4Interfaces(const std::vector<std::string>& only);

// LANA numbers for interfaces: given on first sight and kept while the stack lives, so a number
// never moves to another interface while the first one is present. An interface is known by its
// name and index (one recreated under the same name is a new interface).
class LanaNumbers {
  public:
    // The number of each present interface, in the order given.
    std::vector<std::uint8_t> Assign(const std::vector<InterfaceInfo>& present);

  private:
    std::map<std::string, std::uint8_t> assigned_;
    unsigned next_ = 0;
};

}  // namespace platform::netbios
