#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The SMB "write mailslot" transaction (command 0x25, opcode 1) that datagrams carry as their
// user data.
namespace platform::netbios::wire {

inline constexpr std::string_view kMailslotPrefix = "\\MAILSLOT\\";

namespace mailslot_class {
inline constexpr std::uint16_t kReliable = 1;
inline constexpr std::uint16_t kUnreliable = 2;  // broadcast / second class
}  // namespace mailslot_class

struct MailslotWrite {
    std::string name;  // "\MAILSLOT\..." as sent
    std::uint16_t priority = 0;
    std::uint16_t mailslot_class = 0;
    std::span<const std::uint8_t> data;  // a part of the decoded bytes
};

// nullopt unless the bytes hold a whole, unfragmented write-mailslot transaction whose name
// starts with \MAILSLOT\ (any case) and whose data lies inside the bytes, after the name.
std::optional<MailslotWrite> DecodeMailslotWrite(std::span<const std::uint8_t> smb);

std::vector<std::uint8_t> EncodeMailslotWrite(std::string_view name,
                                              std::span<const std::uint8_t> data,
                                              std::uint16_t mailslot_class);

}  // namespace platform::netbios::wire
