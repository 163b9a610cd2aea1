#pragma once

#include <cstdint>
#include <string>

// How a message reached this computer: a NetBIOS session, or a mailslot datagram.
enum class MessageKind : std::int32_t { Personal = 1, Broadcast = 2 };

// One finished message as the reception service hands it to its owner (UTF-8 text).
struct ReceivedMessage {
    MessageKind kind = MessageKind::Personal;
    std::string origin;
    std::string recipient;
    std::string text;
};
