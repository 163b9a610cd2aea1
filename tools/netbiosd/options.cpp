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
    const auto ports = [&options](const std::string& value, std::string& why) {
        if (ParsePorts(value, options)) {
            return true;
        }
        why = "--ports needs three port numbers: NAME,DATAGRAM,SESSION";
        return false;
    };
    const tools::Option table[] = {
        {"--socket", tools::Store(options.socket_path)},
        {"--computer", tools::Store(options.computer_name)},
        {"--interface", tools::Append(options.interfaces)},
        {"--oem-codepage", tools::Store(options.oem_codepage)},
        {"--ports", ports},
        {"--check-samba", tools::Set(options.check_samba), false},
    };
    const auto line = tools::ParseCommandLine(args, table, false, error);
    if (!line) {
        return std::nullopt;
    }
    options.request = line->request;
    return options;
}
