#include "tools/receive/options.h"

const char* const kReceiveUsage =
    "usage: tolvane-receive [--computer NAME] [--user NAME] [--interface IF]... "
    "[--oem-codepage CP]\n"
    "       tolvane-receive --help | --version\n"
    "Receives 'net send' messages for the computer's and the user's name and prints each as one\n"
    "line of JSON. Stops on SIGINT or SIGTERM.\n";

std::optional<ReceiveOptions> ParseReceiveOptions(const std::vector<std::string>& args,
                                                  std::string& error) {
    ReceiveOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        std::optional<std::string> v;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--computer" && (v = value())) {
            options.computer_name = *v;
        } else if (arg == "--user" && (v = value())) {
            options.user_name = *v;
        } else if (arg == "--interface" && (v = value())) {
            options.interfaces.push_back(*v);
        } else if (arg == "--oem-codepage" && (v = value())) {
            options.oem_codepage = *v;
        } else {
            if (error.empty()) {
                error = "unknown argument: " + arg;
            }
            return std::nullopt;
        }
    }
    return options;
}
