#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/netbios/wire/name.h"

// Datagram service packets (UDP 138): direct unique, direct group and broadcast datagrams.
namespace platform::netbios::wire {

namespace datagram_type {
inline constexpr std::uint8_t kDirectUnique = 0x10;
inline constexpr std::uint8_t kDirectGroup = 0x11;
inline constexpr std::uint8_t kBroadcast = 0x12;
inline constexpr std::uint8_t kError = 0x13;
}  // namespace datagram_type

namespace datagram_flags {
inline constexpr std::uint8_t kMore = 0x01;
inline constexpr std::uint8_t kFirst = 0x02;
}  // namespace datagram_flags

inline constexpr std::size_t kDatagramHeaderSize = 14;

struct Datagram {
    std::uint8_t type = 0;
    std::uint8_t flags = 0;
    std::uint16_t id = 0;
    std::uint32_t source_address = 0;  // host byte order
    std::uint16_t source_port = 0;
    std::uint16_t packet_offset = 0;
    NetbiosName source{};
    NetbiosName destination{};
    bool scoped = false;
    std::span<const std::uint8_t> user_data;  // a part of the decoded bytes

    // The whole datagram in one packet: first, no more to follow, offset 0.
    bool Whole() const {
        return (flags & datagram_flags::kFirst) && !(flags & datagram_flags::kMore) &&
               packet_offset == 0;
    }
};

// Decodes the three datagram kinds that carry names and data; nullopt for others (errors,
// queries) and for anything malformed, including a DGM_LENGTH beyond the bytes given.
std::optional<Datagram> DecodeDatagram(std::span<const std::uint8_t> bytes);

// A whole (unfragmented) datagram from a broadcast node.
std::vector<std::uint8_t> EncodeDatagram(std::uint8_t type, std::uint16_t id,
                                         std::uint32_t source_address, std::uint16_t source_port,
                                         const NetbiosName& source, const NetbiosName& destination,
                                         std::span<const std::uint8_t> user_data);

}  // namespace platform::netbios::wire
