#pragma once

#include <cstdint>
#include <string>

// Sending a message the way Windows' 'net send' does, through Netbios(): a session to the
// recipient's messenger name carrying the SMB message units, or the Messenger mailslot datagram
// to every computer of the LAN. The desktop program's reply and tolvane-send share it.
namespace sending {

struct Message {
    std::string from;  // the sender's name shown to the recipient
    std::string to;    // the recipient's name
    std::string text;  // line breaks as typed; they go out as Windows writes them
};

enum class Outcome {
    Delivered,     // the recipient acknowledged the message (a broadcast: it went out)
    BadRequest,    // a name the code page cannot write, a text too long: nothing was sent
    NotDelivered,  // no such name, a refused or broken session, NetBIOS not usable here
};

struct Result {
    Outcome outcome = Outcome::NotDelivered;
    std::string problem;  // one line for people; empty when delivered
};

// Sends a personal message to message.to<03>, whose node is found by a broadcast query on each
// adapter in turn, or is at address (IPv4, host byte order) when that is not zero. The calling
// name is the sender's own (message.from) where this program may call from it, else the
// computer's name.
Result SendMessage(const Message& message, std::uint32_t address = 0);

// Writes the Messenger mailslot datagram (From, To "*", Text) to every computer on each adapter.
Result Broadcast(const Message& message);

}  // namespace sending
