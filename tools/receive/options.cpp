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
    const tools::Option table[] = {
        {"--computer", tools::Store(options.computer_name)},
        {"--user", tools::Store(options.user_name)},
        {"--interface", tools::Append(options.interfaces)},
        {"--oem-codepage", tools::Store(options.oem_codepage)},
    };
    const auto line = tools::ParseCommandLine(args, table, false, error);
    if (!line) {
        return std::nullopt;
    }
    options.request = line->request;
    return options;
}
