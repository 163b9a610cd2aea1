#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/netbios/wire/name.h"

// Name service packets (UDP 137): the header, questions and resource records, and the packets a
// broadcast node sends and answers. Addresses are IPv4 in host byte order.
namespace platform::netbios::wire {

namespace ns_flags {
inline constexpr std::uint16_t kResponse = 0x8000;
inline constexpr std::uint16_t kOpcodeMask = 0x7800;
inline constexpr std::uint16_t kAuthoritative = 0x0400;
inline constexpr std::uint16_t kTruncated = 0x0200;
inline constexpr std::uint16_t kRecursionDesired = 0x0100;
inline constexpr std::uint16_t kRecursionAvailable = 0x0080;
inline constexpr std::uint16_t kBroadcast = 0x0010;
inline constexpr std::uint16_t kRcodeMask = 0x000F;
}  // namespace ns_flags

enum class NsOpcode : std::uint8_t {
    Query = 0,
    Registration = 5,
    Release = 6,
    Wack = 7,
    Refresh = 8,
    RefreshAlt = 9,
};

namespace ns_rcode {
inline constexpr std::uint8_t kFormat = 1;
inline constexpr std::uint8_t kServer = 2;
inline constexpr std::uint8_t kNameError = 3;
inline constexpr std::uint8_t kUnsupported = 4;
inline constexpr std::uint8_t kRefused = 5;
inline constexpr std::uint8_t kActive = 6;
inline constexpr std::uint8_t kConflict = 7;
}  // namespace ns_rcode

inline constexpr std::uint16_t kTypeNb = 0x20;
inline constexpr std::uint16_t kTypeNbstat = 0x21;
inline constexpr std::uint16_t kClassIn = 1;
// NB_FLAGS / NAME_FLAGS bits.
inline constexpr std::uint16_t kGroupFlag = 0x8000;
inline constexpr std::uint16_t kActiveFlag = 0x0400;
inline constexpr std::uint16_t kConflictFlag = 0x0800;

struct NsQuestion {
    NetbiosName name{};
    bool scoped = false;
    std::uint16_t type = 0;
    std::uint16_t cls = 0;
};

struct NsRecord {
    NetbiosName name{};
    bool scoped = false;
    std::uint16_t type = 0;
    std::uint16_t cls = 0;
    std::uint32_t ttl = 0;
    std::vector<std::uint8_t> rdata;
};

struct NsPacket {
    std::uint16_t trn_id = 0;
    std::uint16_t flags = 0;
    std::vector<NsQuestion> questions;
    std::vector<NsRecord> answers;
    std::vector<NsRecord> authority;
    std::vector<NsRecord> additional;

    bool response() const { return (flags & ns_flags::kResponse) != 0; }
    NsOpcode opcode() const { return static_cast<NsOpcode>((flags & ns_flags::kOpcodeMask) >> 11); }
    std::uint8_t rcode() const { return static_cast<std::uint8_t>(flags & ns_flags::kRcodeMask); }
};

// nullopt when the bytes do not hold a whole packet with the record counts its header gives.
std::optional<NsPacket> DecodeNsPacket(std::span<const std::uint8_t> bytes);

// One NB resource entry: flags and address.
struct NbEntry {
    std::uint16_t flags = 0;
    std::uint32_t address = 0;
};
// The whole 6-byte entries of an NB record's data.
std::vector<NbEntry> DecodeNbEntries(std::span<const std::uint8_t> rdata);

struct NodeStatusName {
    NetbiosName name{};
    std::uint16_t flags = 0;
};
struct NodeStatus {
    std::vector<NodeStatusName> names;
    std::array<std::uint8_t, 6> unit_id{};
};
// The data of a node status (NBSTAT) record; the statistics after the unit id may be cut short.
std::optional<NodeStatus> DecodeNodeStatus(std::span<const std::uint8_t> rdata);

// Packets this node sends.
std::vector<std::uint8_t> EncodeRegistrationRequest(std::uint16_t trn_id, const NetbiosName& name,
                                                    std::uint32_t address, bool overwrite_demand);
std::vector<std::uint8_t> EncodeReleaseRequest(std::uint16_t trn_id, const NetbiosName& name,
                                               std::uint32_t address);
std::vector<std::uint8_t> EncodeQueryRequest(std::uint16_t trn_id, const NetbiosName& name,
                                             bool broadcast);
std::vector<std::uint8_t> EncodeNodeStatusRequest(std::uint16_t trn_id, const NetbiosName& name);
std::vector<std::uint8_t> EncodePositiveQueryResponse(std::uint16_t trn_id, const NetbiosName& name,
                                                      std::uint32_t address);
std::vector<std::uint8_t> EncodeNegativeRegistrationResponse(std::uint16_t trn_id,
                                                             const NetbiosName& name,
                                                             std::uint32_t owner_address,
                                                             std::uint8_t rcode);
std::vector<std::uint8_t> EncodeConflictDemand(std::uint16_t trn_id, const NetbiosName& name);
std::vector<std::uint8_t> EncodeNodeStatusResponse(std::uint16_t trn_id,
                                                   const NetbiosName& question,
                                                   std::span<const NodeStatusName> names,
                                                   const std::array<std::uint8_t, 6>& unit_id);

}  // namespace platform::netbios::wire
