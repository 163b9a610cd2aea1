#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/common/command_line.h"

// Command line of tolvane-receive.
struct ReceiveOptions {
    std::string computer_name;            // empty: this computer's name
    std::string user_name;                // empty: the effective user's name
    std::vector<std::string> interfaces;  // empty: every IPv4 interface that is up
    std::string oem_codepage;             // empty: CP850
    tools::Request request = tools::Request::kRun;
};

// Parses the arguments; nullopt (with the reason in error) when they are not understood.
std::optional<ReceiveOptions> ParseReceiveOptions(const std::vector<std::string>& args,
                                                  std::string& error);

extern const char* const kReceiveUsage;
