// tolvane-receive: the reception service without windows. Prints every received message as one
// line of JSON on standard output and stops in order on SIGINT or SIGTERM.
#include <signal.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"
#include "reception/mailslot/mailslot_network.h"
#include "reception/netbios/netbios_network.h"
#include "reception/service/line_breaks.h"
#include "reception/service/messenger.h"
#include "tools/receive/json_line.h"
#include "tools/receive/options.h"
#include "tools/receive/port_problems.h"

namespace {

std::mutex g_output;

void PrintMessage(ReceivedMessage message) {
    auto received = std::chrono::system_clock::now();
    message.text = RestoreLineBreaks(std::move(message.text));
    std::string line = JsonLine(message, received) + "\n";
    std::lock_guard lock(g_output);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // The user's locale, as a desktop program has it; names on the wire do not depend on it.
    std::setlocale(LC_ALL, "");
    std::string error;
    auto options = ParseReceiveOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "tolvane-receive: %s\n%s", error.c_str(), kReceiveUsage);
        return 2;
    }
    if (!options->oem_codepage.empty() &&
        !platform::codepage::SetOemCodePage(options->oem_codepage)) {
        std::fprintf(stderr, "tolvane-receive: unknown code page %s\n",
                     options->oem_codepage.c_str());
        return 2;
    }

    // Every thread started from here on inherits the blocked signals; only sigtimedwait below
    // takes them, so a stop is always an orderly one.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    PortProblemReporter reporter(options->interfaces);

    CMessenger::Options service_options;
    service_options.computer_name = options->computer_name;
    service_options.user_name = options->user_name;
    CMessenger messenger(service_options);
    for (const std::string* name : {&messenger.computer_name(), &messenger.user_name()}) {
        if (!name->empty() && !platform::codepage::NetbiosName(*name)) {
            std::fprintf(stderr,
                         "tolvane-receive: %s cannot be written in %s: no NetBIOS name for it\n",
                         name->c_str(), platform::codepage::OemCodePage().c_str());
        }
    }
    TlNetbiosNetwork netbios_network;
    TlMailslotNetwork mailslot_network;

    messenger.SetCallback(PrintMessage);
    messenger.SetNetwork(&netbios_network);
    netbios_network.SetListener([&messenger] { messenger.Refresh(); });
    messenger.Start();
    netbios_network.Start();

    for (;;) {
        timespec second{1, 0};
        int signal = sigtimedwait(&stop_signals, nullptr, &second);
        if (signal == SIGINT || signal == SIGTERM) {
            break;
        }
        reporter.ReportNew(stderr);
    }

    // The service goes first, so that no rebuild reads a network that is being released.
    messenger.Stop();
    return 0;
}
