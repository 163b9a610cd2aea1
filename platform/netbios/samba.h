#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/netbios/stack.h"

// Samba beside the NetBIOS service: Samba keeps sharing files over port 445 (smbd) and leaves
// UDP 137 and 138 (nmbd) and TCP 139 (smbd's NetBIOS sessions) to tolvane-netbiosd.
namespace platform::netbios {

// What to change, as one sentence for a line in a log or a notice.
extern const char* const kSambaSwitch;

// Whether a port of these problems (in use, or denied) is held by Samba's nmbd or smbd, as far as
// this process can tell: the port's holder, or, where other users' processes hide it, a port in use
// while nmbd or smbd runs.
bool SambaHoldsPorts(const std::vector<BindProblem>& problems);

// Samba's settings as "testparm -s" prints them, only what concerns the NetBIOS ports.
struct SambaSettings {
    std::string smb_ports = "445 139";  // Samba's default
    bool netbios_disabled = false;

    bool TakesSessionPort() const;  // smbd listens on TCP 139
};
SambaSettings ParseTestparm(std::string_view output);

// tolvane-netbiosd --check-samba: runs "testparm -s", writes what it finds and the lines to change
// to out; true when Samba leaves the NetBIOS ports free (or is not installed).
bool CheckSamba(std::string& out);

}  // namespace platform::netbios
