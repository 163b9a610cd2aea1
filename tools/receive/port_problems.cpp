#include "tools/receive/port_problems.h"

#include <cerrno>

#include "platform/netbios/machine_service.h"
#include "platform/netbios/samba.h"
#include "platform/system/system.h"

namespace nb = platform::netbios;

namespace {
constexpr const char* kListening = "tolvane-receive: all ports bound; listening.";
}

PortProblemReporter::PortProblemReporter(const std::vector<std::string>& interfaces,
                                         const std::string& computer_name)
    : reported_(kListening) {
    nb::Stack::Config config;
    config.interfaces = interfaces;
    config.computer_name = computer_name;
    nb::ChooseAutomatically(config);
}

PortProblemReporter::~PortProblemReporter() {
    nb::SetProcessStack(nullptr);
}

std::string PortProblemReporter::Describe(const std::vector<nb::BindProblem>& problems,
                                          const std::string& program) {
    if (problems.empty()) {
        return {};
    }
    std::string line = "tolvane-receive: cannot listen yet: ";
    bool privilege = false;
    bool in_use = false;
    for (std::size_t i = 0; i < problems.size(); ++i) {
        line += (i ? "; " : "") + nb::DescribeBindProblem(problems[i]);
        privilege = privilege || problems[i].error == EACCES || problems[i].error == EPERM;
        in_use = in_use || problems[i].error == EADDRINUSE;
    }
    if (nb::SambaHoldsPorts(problems)) {
        return line + ". Samba holds the NetBIOS ports. " + nb::kSambaSwitch + ". Retrying.";
    }
    if (privilege) {
        line +=
            ". Start the NetBIOS service (sudo systemctl start tolvane-netbiosd) or grant the "
            "capability: sudo setcap cap_net_bind_service=+ep " +
            program;
    }
    if (in_use) {
        line += ". Stop the program holding the port";
    }
    return line + ". Retrying.";
}

void PortProblemReporter::ReportNew(std::FILE* out) {
    std::string line;
    if (auto stack = nb::ProcessStack()) {
        line = Describe(stack->BindProblems(), platform::system::ProgramPath());
        line = line.empty() ? kListening : line;
    } else {
        const std::string problem = nb::ReceptionProblem();
        const std::string own_name = nb::OwnNameProblem();
        line = "tolvane-receive: " + (!problem.empty() ? problem
                                      : !own_name.empty()
                                          ? own_name
                                          : std::string("receiving through the NetBIOS service."));
    }
    if (line == reported_) {
        return;
    }
    reported_ = line;
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}
