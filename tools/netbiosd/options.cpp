#include "tools/netbiosd/options.h"

#include <charconv>

#include "platform/netbios/machine_service.h"

const char* const kNetbiosdUsage =
    "usage: tolvane-netbiosd [--socket PATH] [--computer NAME] [--interface IF]...\n"
    "                        [--oem-codepage CP] [--ports NAME,DATAGRAM,SESSION]\n"
    "       tolvane-netbiosd --check-samba | --help | --version\n"
    "Owns this computer's NetBIOS names, datagrams and sessions (UDP 137 and 138, TCP 139) and\n"
    "serves them to the programs of this computer. Binds the ports itself unless the service\n"
    "manager hands them over. Stops on SIGINT or SIGTERM.\n"
    "--check-samba reads Samba's settings (testparm -s) and prints whether Samba leaves the\n"
    "NetBIOS ports free and, where not, the lines of smb.conf to change.\n";

namespace {

bool ParsePort(const std::string& text, std::uint16_t& port) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool ParsePorts(const std::string& text, NetbiosdOptions& options) {
    const auto first = text.find(',');
    const auto second = first == std::string::npos ? first : text.find(',', first + 1);
    return second != std::string::npos && ParsePort(text.substr(0, first), options.name_port) &&
           ParsePort(text.substr(first + 1, second - first - 1), options.datagram_port) &&
           ParsePort(text.substr(second + 1), options.session_port);
}

}  // namespace

std::optional<NetbiosdOptions> ParseNetbiosdOptions(const std::vector<std::string>& args,
                                                    std::string& error) {
    NetbiosdOptions options;
    options.socket_path = platform::netbios::kServiceSocketPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--version") {
            options.version = true;
            continue;
        }
        if (arg == "--check-samba") {
            options.check_samba = true;
            continue;
        }
        if (arg != "--socket" && arg != "--computer" && arg != "--interface" &&
            arg != "--oem-codepage" && arg != "--ports") {
            error = "unknown argument: " + arg;
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        const std::string& value = args[++i];
        if (arg == "--socket") {
            options.socket_path = value;
        } else if (arg == "--computer") {
            options.computer_name = value;
        } else if (arg == "--interface") {
            options.interfaces.push_back(value);
        } else if (arg == "--oem-codepage") {
            options.oem_codepage = value;
        } else if (!ParsePorts(value, options)) {
            error = "--ports needs three port numbers: NAME,DATAGRAM,SESSION";
            return std::nullopt;
        }
    }
    return options;
}
