// tolvane-receive: the reception service without windows. Prints every received message as one
// line of JSON on standard output and stops in order on SIGINT or SIGTERM.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/netbios/machine_service.h"
#include "reception/mailslot/mailslot_network.h"
#include "reception/netbios/netbios_network.h"
#include "reception/service/line_breaks.h"
#include "reception/service/messenger.h"
#include "tools/receive/json_line.h"
#include "tools/receive/options.h"
#include "tools/receive/output_writer.h"
#include "tools/receive/port_problems.h"

namespace {

using Clock = std::chrono::steady_clock;

// Lines waiting for a slow reader; past this a message leaves only its note on standard error.
constexpr std::size_t kMaxPendingOutput = 4 * 1024 * 1024;
// From the stop signal: what is still queued is written until here; then the notes of what is
// left get their own time on standard error (which may be stalled too).
constexpr std::chrono::milliseconds kOutputGrace{600};
constexpr std::chrono::milliseconds kNotesGrace{250};

void Queue(OutputWriter& output, ReceivedMessage message) {
    auto received = std::chrono::system_clock::now();
    message.text = RestoreLineBreaks(std::move(message.text));
    std::string note =
        std::string(message.kind == MessageKind::Personal ? "personal" : "broadcast") +
        " message from " + JsonString(message.origin.substr(0, 64)) + " to " +
        JsonString(message.recipient.substr(0, 64)) + ", received " + IsoLocalTime(received);
    output.Add(JsonLine(message, received) + "\n", std::move(note));
}

void ReportNotes(OutputWriter& output, Clock::time_point deadline) {
    std::size_t more = 0;
    auto notes = output.TakeNotes(more);
    WriteNotes(STDERR_FILENO, notes, more, deadline);
}

int Run(int argc, char** argv) {
    // The user's locale, as a desktop program has it; names on the wire do not depend on it.
    std::setlocale(LC_ALL, "");
    std::string error;
    auto options = ParseReceiveOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        return tools::UsageError("tolvane-receive", error);
    }
    if (const auto status = tools::Answer(options->request, "tolvane-receive", kReceiveUsage)) {
        return *status;
    }
    if (!options->oem_codepage.empty() &&
        !platform::codepage::SetOemCodePage(options->oem_codepage)) {
        std::fprintf(stderr, "tolvane-receive: unknown code page %s\n",
                     options->oem_codepage.c_str());
        return 2;
    }

    // A reader that goes away is a failed write, said on standard error, not a silent death.
    ::signal(SIGPIPE, SIG_IGN);
    // Every thread started from here on inherits the blocked signals; only the signal descriptor
    // below takes them, so a stop is always an orderly one.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const int signals = ::signalfd(-1, &stop_signals, SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "tolvane-receive: %s\n", std::strerror(errno));
        return 1;
    }

    PortProblemReporter reporter(options->interfaces, options->computer_name);
    OutputWriter output(STDOUT_FILENO, kMaxPendingOutput);

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

    messenger.SetCallback([&output](ReceivedMessage m) { Queue(output, std::move(m)); });
    messenger.SetNetwork(&netbios_network);
    netbios_network.SetListener([&messenger] { messenger.Refresh(); });
    messenger.Start();
    netbios_network.Start();

    // Waits for what it acts on only: a stop, the writer's attention, a change in reception.
    platform::Event& reception = platform::netbios::ReceptionChanged();
    reporter.ReportNew(stderr);
    for (;;) {
        pollfd fds[] = {{signals, POLLIN, 0},
                        {output.attention().fd(), POLLIN, 0},
                        {reception.fd(), POLLIN, 0}};
        if (::poll(fds, 3, -1) > 0 && fds[0].revents != 0) {
            break;
        }
        if (fds[2].revents != 0) {
            reception.TryConsume();
        }
        if (fds[1].revents != 0 && output.attention().TryConsume()) {
            if (output.error() != 0) {
                std::fprintf(stderr,
                             "tolvane-receive: cannot write to standard output (%s); stopping\n",
                             std::strerror(output.error()));
                break;
            }
            ReportNotes(output, Clock::now() + kNotesGrace);
        }
        reporter.ReportNew(stderr);
    }

    // The service goes first, so that no rebuild reads a network that is being released and no
    // message arrives after the last one is written.
    const auto stop = Clock::now();
    messenger.Stop();
    const bool written = output.Drain(stop + kOutputGrace);
    if (!written && output.error() == 0) {
        output.Abandon();
    }
    ReportNotes(output, Clock::now() + kNotesGrace);
    if (!written && output.error() != 0) {
        return 1;  // the output is closed and its writer has ended: the rest ends in order
    }
    if (!written) {
        // The writer may be stuck in a write for good; nothing else is left to end in order.
        std::fflush(stderr);
        ::_exit(1);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        // Out of descriptors or threads at start: say so rather than abort.
        std::fprintf(stderr, "tolvane-receive: cannot start: %s\n", e.what());
        return 1;
    }
}
