#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/netbios/wire/name.h"

// The messages between the NetBIOS service and the programs that use it, one per packet on a
// local sequenced-packet socket. A program sends requests, each with an id of its choosing; the
// service answers each command and each mailslot opening with one reply carrying the same id,
// when the command completes (a listen, when a caller comes). A reply that hands over a session
// or a mailslot carries its socket as ancillary data.
namespace platform::netbios::service {

inline constexpr std::uint8_t kProtocolVersion = 1;
// The most data one mailslot write carries.
inline constexpr std::size_t kMaxMailslotData = 512;
// No message either way is longer.
inline constexpr std::size_t kMaxMessageSize = 640;

// The fields of a control block that a command reads.
struct CommandFields {
    std::uint8_t command = 0;
    std::uint8_t lana = 0;
    std::uint8_t lsn = 0;
    std::uint8_t num = 0;
    std::uint8_t rto = 0;
    std::uint8_t sto = 0;
    std::uint16_t length = 0;  // room for an adapter list
    wire::NetbiosName name{};
    wire::NetbiosName callname{};
    // A call's address of the called node (ncb.h); sent only when set, so that requests of
    // programs that never set it keep their form.
    std::uint32_t address = 0;

    bool operator==(const CommandFields&) const = default;
};

struct Request {
    enum class Kind : std::uint8_t {
        Command = 1,
        OpenMailslot = 2,
        CloseMailslot = 3,
        WriteMailslot = 4,  // a mailslot of another computer, or of every computer ("*")
    };
    Kind kind = Kind::Command;
    std::uint32_t id = 0;
    CommandFields ncb;           // Command
    std::string mailslot;        // OpenMailslot, CloseMailslot, WriteMailslot: 1 to 255 bytes
    std::uint16_t max_size = 0;  // OpenMailslot: the largest datagram kept
    // WriteMailslot: the adapter, the computer's name or "*" (1 to 15 bytes), and the data (at
    // most kMaxMailslotData bytes).
    std::uint8_t lana = 0;
    std::string computer;
    std::vector<std::uint8_t> data;

    bool operator==(const Request&) const = default;
};

// The outcome of a request: the return code and the control block's output fields.
struct Reply {
    std::uint32_t id = 0;
    std::uint8_t retcode = 0;
    std::uint8_t lsn = 0;
    std::uint8_t num = 0;
    wire::NetbiosName callname{};
    std::vector<std::uint8_t> data;  // an adapter list: at most 255 bytes
    // The bounds a session handed over runs under, as the stack's own sessions do.
    std::uint32_t session_idle_ms = 0;
    std::uint32_t max_session_message = 0;
    // A call's address the called name was found at, a listen's the caller's; sent only when set.
    std::uint32_t address = 0;

    bool operator==(const Reply&) const = default;
};

std::vector<std::uint8_t> EncodeRequest(const Request& request);
// nullopt for anything that is not exactly one well-formed request of this version.
std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes);

std::vector<std::uint8_t> EncodeReply(const Reply& reply);
std::optional<Reply> DecodeReply(std::span<const std::uint8_t> bytes);

}  // namespace platform::netbios::service
