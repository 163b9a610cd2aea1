#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Which program holds a local TCP or UDP port, for telling the user why a port cannot be bound.
namespace platform::netbios {

struct PortHolder {
    std::string program;  // the process's short name
    int pid = 0;
};

// Looks the port up among the listening TCP and the UDP sockets of the calling thread's network
// namespace and finds a process holding that socket. Empty when there is none this user may see
// (other users' processes are hidden without privilege).
std::optional<PortHolder> FindPortHolder(std::uint16_t port);

// Whether any socket there is bound to the port (listening, for TCP), whoever holds it.
bool PortInUse(std::uint16_t port);

}  // namespace platform::netbios
