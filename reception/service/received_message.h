#pragma once

#include <cstdint>
#include <string>

// How a message reached this computer: a NetBIOS session, or a mailslot datagram. Sent: a
// message this computer sent (a reply), archived beside the received ones.
enum class MessageKind : std::int32_t { Personal = 1, Broadcast = 2, Sent = 3 };

// One finished message as the reception service hands it to its owner (UTF-8 text).
struct ReceivedMessage {
    MessageKind kind = MessageKind::Personal;
    std::string origin;
    std::string recipient;
    std::string text;
};
