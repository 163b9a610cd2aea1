#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/command_line.h"

// Command line of tolvane-netbiosd.
struct NetbiosdOptions {
    std::string socket_path;              // where programs connect, when not handed over
    std::string computer_name;            // empty: this computer's name
    std::vector<std::string> interfaces;  // empty: every IPv4 interface that is up
    std::string oem_codepage;             // empty: CP850
    std::uint16_t name_port = 137;
    std::uint16_t datagram_port = 138;
    std::uint16_t session_port = 139;
    tools::Request request = tools::Request::kRun;  // --help, --version: tell and stop
    bool check_samba = false;  // --check-samba: say whether Samba leaves the ports free, and stop
};

// Parses the arguments; nullopt (with the reason in error) when they are not understood.
std::optional<NetbiosdOptions> ParseNetbiosdOptions(const std::vector<std::string>& args,
                                                    std::string& error);

extern const char* const kNetbiosdUsage;
