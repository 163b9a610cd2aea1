#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/netbios/stack.h"
#include "platform/sync/event.h"

// Which stack Netbios() uses: the NetBIOS service of this machine (tolvane-netbiosd, which owns
// the NetBIOS ports for every program), or a stack of the process's own. By default a process
// uses the service when its socket is there, and otherwise a stack of its own, which needs the
// privilege to bind the ports; such a process moves to the service once it appears.
namespace platform::netbios {

inline constexpr const char* kServiceSocketPath = "/run/tolvane/netbios.sock";

// Sends this process's commands to the service listening at socket_path from now on.
void UseService(const std::string& socket_path = kServiceSocketPath);
// The default: the service when its socket is there, else a stack of this process made with
// config (the service as soon as it appears, while that stack lacks the privilege for its ports).
void ChooseAutomatically(Stack::Config config = {});
// Whether commands go to the service now (choosing first if nothing has been chosen yet).
bool UsingService();

// Writes one mailslot datagram from the LANA, as Stack::WriteMailslot, through whichever stack
// Netbios() uses now (the service's, or this process's own).
bool WriteMailslot(std::uint8_t lana, std::string_view computer_or_star, std::string_view mailslot,
                   std::span<const std::uint8_t> data);

// Why this process cannot receive messages, for programs that tell it in their own words.
struct ReceptionTrouble {
    enum class Kind {
        None,             // reception works
        ServiceSilent,    // the service's socket is there, but the service does not answer
        ServiceNeeded,    // no service, and no privilege to bind the ports here
        PortsFailed,      // ports that could not be bound (held by another program, ...)
        SambaHoldsPorts,  // Samba's daemons hold the ports
    };
    Kind kind = Kind::None;
    std::vector<BindProblem> ports;  // for PortsFailed and SambaHoldsPorts
};
ReceptionTrouble CurrentReceptionTrouble();

// One line saying why this process cannot receive messages and what to do about it (start the
// service, free a port); empty while reception works.
std::string ReceptionProblem();
// Signalled (auto-reset) whenever what ReceptionProblem says may have changed, so that whoever
// tells the user waits on it rather than asks on a timer.
platform::Event& ReceptionChanged();

// One line saying why messages to the user's own name cannot reach this process (the service
// refused the name: another account has the same name on the wire) while messages to the computer
// still do; empty when nothing was refused.
std::string OwnNameProblem();

}  // namespace platform::netbios
