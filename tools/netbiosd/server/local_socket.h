#pragma once

#include <string>

#include "platform/netbios/socket.h"

namespace platform::netbios::service {

// Makes the socket programs connect to at path, open to everyone (the service decides who may do
// what). Refuses a path where another service answers; a stale socket is replaced.
UniqueFd ListenLocal(const std::string& path, std::string& error);

}  // namespace platform::netbios::service
