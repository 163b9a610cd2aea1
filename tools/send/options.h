#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/common/command_line.h"

struct SendOptions {
    std::string from;  // empty: the user's login name
    std::string address;
    std::vector<std::string> interfaces;
    std::string oem_codepage;
    bool broadcast = false;
    tools::Request request = tools::Request::kRun;
    std::string name;
    std::vector<std::string> text;  // none: the text comes from standard input
};

extern const char* const kSendUsage;

// Options come before the recipient's name; everything after it is text. nullopt with error set
// for a usage error.
std::optional<SendOptions> ParseSendOptions(const std::vector<std::string>& args,
                                            std::string& error);
