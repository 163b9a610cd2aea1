// tolvane-netbiosd: the NetBIOS service of this computer. Owns the one NetBIOS stack (names on
// UDP 137, datagrams on UDP 138, sessions on TCP 139) and serves Netbios() to local programs over
// a local socket. Under systemd every socket comes from the socket unit and the service needs no
// privilege at all; run by hand it binds the ports itself (as root).
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/netbios/samba.h"
#include "platform/netbios/stack.h"
#include "platform/system/system.h"
#include "tools/netbiosd/options.h"
#include "tools/netbiosd/server/datagram_routes.h"
#include "tools/netbiosd/server/local_socket.h"
#include "tools/netbiosd/server/name_policy.h"
#include "tools/netbiosd/server/server.h"
#include "tools/netbiosd/sockets.h"

namespace nb = platform::netbios;

namespace {

void Log(const std::string& line) {
    std::fprintf(stderr, "tolvane-netbiosd: %s\n", line.c_str());
    std::fflush(stderr);
}

std::string Describe(const std::vector<nb::BindProblem>& problems) {
    if (problems.empty()) {
        return "all ports bound";
    }
    std::string line = "cannot bind yet: ";
    for (std::size_t i = 0; i < problems.size(); ++i) {
        line += (i ? "; " : "") + nb::DescribeBindProblem(problems[i]);
    }
    if (nb::SambaHoldsPorts(problems)) {
        line += "; Samba holds the NetBIOS ports. " + std::string(nb::kSambaSwitch);
    }
    return line + "; retrying";
}

// The options that only tell something: the exit code once told; nullopt for the service to run.
std::optional<int> Tell(const NetbiosdOptions& options) {
    if (const auto status = tools::Answer(options.request, "tolvane-netbiosd", kNetbiosdUsage)) {
        return status;
    }
    if (options.check_samba) {
        std::string report;
        const bool free = nb::CheckSamba(report);
        std::fputs(report.c_str(), stdout);
        return free ? 0 : 1;
    }
    return std::nullopt;
}

// The stack on the sockets given (or its own where none came), with mailslot writes routed to
// the programs that opened the mailslot.
nb::Stack::Config StackConfig(const NetbiosdOptions& options, const std::string& computer,
                              ServiceSockets& sockets,
                              const std::shared_ptr<nb::service::DatagramRoutes>& routes) {
    nb::Stack::Config config;
    config.computer_name = computer;
    config.interfaces = options.interfaces;
    config.name_port = options.name_port;
    config.datagram_port = options.datagram_port;
    config.session_port = options.session_port;
    config.name_socket = sockets.name.release();
    config.datagram_socket = sockets.datagram.release();
    config.session_socket = sockets.session.release();
    // Every program's names share the adapters; each program's share is bounded by the service.
    config.names_per_lana = 254;
    config.route_mailslot = [routes](std::uint8_t lana, const nb::wire::NetbiosName& destination,
                                     bool to_unique_name, std::string_view mailslot) {
        return routes->Route(lana, destination, to_unique_name, mailslot);
    };
    config.on_bind_problems = [](const std::vector<nb::BindProblem>& problems) {
        Log(Describe(problems));
        sd_notifyf(0, "STATUS=%s", Describe(problems).c_str());
    };
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options = ParseNetbiosdOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        return tools::UsageError("tolvane-netbiosd", error);
    }
    if (const auto told = Tell(*options)) {
        return *told;
    }
    if (!options->oem_codepage.empty() &&
        !platform::codepage::SetOemCodePage(options->oem_codepage)) {
        Log("unknown code page " + options->oem_codepage);
        return 2;
    }
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    ServiceSockets sockets =
        InheritedSockets(options->name_port, options->datagram_port, options->session_port, error);
    if (!error.empty()) {
        Log(error);
    }
    const bool own_local = !sockets.local;
    if (own_local) {
        sockets.local = nb::service::ListenLocal(options->socket_path, error);
        if (!sockets.local) {
            Log(error);
            return 1;
        }
    }

    const std::string computer =
        options->computer_name.empty() ? platform::system::ComputerName() : options->computer_name;
    auto routes = std::make_shared<nb::service::DatagramRoutes>();
    const nb::Stack::Config config = StackConfig(*options, computer, sockets, routes);
    {
        nb::Stack stack(config);
        nb::service::Server::Options server_options;
        server_options.computer_name = nb::service::WireName(computer);
        server_options.log = Log;
        server_options.routes = routes;
        nb::service::Server server(stack, std::move(sockets.local), server_options);
        sd_notify(0, "READY=1");
        for (;;) {
            const int signal = sigwaitinfo(&stop_signals, nullptr);
            if (signal == SIGINT || signal == SIGTERM) {
                break;
            }
        }
        sd_notify(0, "STOPPING=1");
    }
    if (own_local) {
        ::unlink(options->socket_path.c_str());
    }
    return 0;
}
