#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The IPv4 interfaces the stack can use, and the LANA numbers it gives them.
namespace platform::netbios {

struct InterfaceInfo {
    std::string name;
    unsigned index = 0;
    std::uint32_t address = 0;  // the first IPv4 address, host byte order
    std::uint32_t netmask = 0;
    std::uint32_t broadcast = 0;  // 0 without broadcast
    bool loopback = false;
    std::vector<std::uint32_t> addresses;  // every IPv4 address of the interface
    std::array<std::uint8_t, 6> mac{};

    // Whether registration and queries go out as broadcasts; otherwise the node is alone on the
    // interface (loopback, point-to-point) and names are held at once.
    bool CanBroadcast() const { return broadcast != 0 && !loopback; }
    // Where a broadcast goes: the subnet broadcast, or the node itself on loopback.
    std::uint32_t BroadcastTarget() const { return CanBroadcast() ? broadcast : address; }
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
