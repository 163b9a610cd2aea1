#include "tools/send/options.h"

const char* const kSendUsage =
    "usage: tolvane-send [--from NAME] [--address IP] [--interface IF]... [--oem-codepage CP]\n"
    "                    NAME [TEXT...]\n"
    "       tolvane-send [options] --broadcast [TEXT...]   (or * as NAME)\n"
    "Sends a 'net send' message to NAME, or to every computer of the LAN. Without TEXT the text "
    "is\n"
    "read from standard input. Exit status: 0 delivered, 1 not delivered, 2 usage error.\n";

std::optional<SendOptions> ParseSendOptions(const std::vector<std::string>& args,
                                            std::string& error) {
    SendOptions options;
    const tools::Option table[] = {
        {"--broadcast", tools::Set(options.broadcast), false},
        {"--from", tools::Store(options.from)},
        {"--address", tools::Store(options.address)},
        {"--interface", tools::Append(options.interfaces)},
        {"--oem-codepage", tools::Store(options.oem_codepage)},
    };
    auto line = tools::ParseCommandLine(args, table, true, error);
    if (!line) {
        return std::nullopt;
    }
    options.request = line->request;
    auto operand = line->operands.cbegin();
    if (options.request == tools::Request::kRun && !options.broadcast) {
        if (operand == line->operands.cend()) {
            error = "no recipient given";
            return std::nullopt;
        }
        options.name = *operand++;
        options.broadcast = options.name == "*";
    }
    if (options.broadcast && !options.address.empty()) {
        error = "--address is for a message to one name, not to every computer";
        return std::nullopt;
    }
    options.text.assign(operand, line->operands.cend());
    return options;
}
