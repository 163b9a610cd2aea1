#pragma once

#include <cstdint>
#include <string>

#include "platform/netbios/socket.h"

// The sockets the service manager hands tolvane-netbiosd (socket activation).
struct ServiceSockets {
    platform::netbios::UniqueFd local;  // listening sequenced-packet socket for the programs
    platform::netbios::UniqueFd name;   // UDP, the name port
    platform::netbios::UniqueFd datagram;
    platform::netbios::UniqueFd session;  // listening TCP
};

// Sorts the sockets the service manager passed by kind and port; others are closed and named in
// error (the descriptors stay open for the stack that takes them over).
ServiceSockets InheritedSockets(std::uint16_t name_port, std::uint16_t datagram_port,
                                std::uint16_t session_port, std::string& error);
