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
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        std::optional<std::string> v;
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            break;
        }
        if (arg == "--help") {
            options.help = true;
            return options;
        }
        if (arg == "--version") {
            options.version = true;
            return options;
        }
        if (arg == "--broadcast") {
            options.broadcast = true;
        } else if (arg == "--from" && (v = value())) {
            options.from = *v;
        } else if (arg == "--address" && (v = value())) {
            options.address = *v;
        } else if (arg == "--interface" && (v = value())) {
            options.interfaces.push_back(*v);
        } else if (arg == "--oem-codepage" && (v = value())) {
            options.oem_codepage = *v;
        } else {
            if (error.empty()) {
                error = "unknown option: " + arg;
            }
            return std::nullopt;
        }
    }
    if (!options.broadcast) {
        if (i >= args.size()) {
            error = "no recipient given";
            return std::nullopt;
        }
        options.name = args[i++];
        options.broadcast = options.name == "*";
    }
    if (options.broadcast && !options.address.empty()) {
        error = "--address is for a message to one name, not to every computer";
        return std::nullopt;
    }
    options.text.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return options;
}
