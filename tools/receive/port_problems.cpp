#include "tools/receive/port_problems.h"

#include <cerrno>

#include "platform/netbios/port_holder.h"
#include "platform/system/system.h"

namespace nb = platform::netbios;

PortProblemReporter::PortProblemReporter(const std::vector<std::string>& interfaces,
                                         const std::string& computer_name) {
    nb::Stack::Config config;
    config.interfaces = interfaces;
    config.computer_name = computer_name;
    stack_ = std::make_shared<nb::Stack>(config);
    nb::SetProcessStack(stack_);
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
    std::string samba;  // how sure we are that Samba holds a port
    for (std::size_t i = 0; i < problems.size(); ++i) {
        line += (i ? "; " : "") + nb::DescribeBindProblem(problems[i]);
        privilege = privilege || problems[i].error == EACCES || problems[i].error == EPERM;
        if (problems[i].error == EADDRINUSE) {
            in_use = true;
            const auto holder = nb::FindPortHolder(problems[i].port);
            if (!holder && samba.empty()) {
                samba = "if it is Samba";
            } else if (holder && (holder->program == "smbd" || holder->program == "nmbd")) {
                samba = "Samba";
            }
        }
    }
    if (privilege) {
        line += ". Grant the capability with: sudo setcap cap_net_bind_service=+ep " + program;
    }
    if (in_use) {
        line += ". Stop the program holding the port";
        if (!samba.empty()) {
            line += " (" + samba + ": sudo systemctl stop smbd nmbd)";
        }
    }
    return line + ". Retrying.";
}

void PortProblemReporter::ReportNew(std::FILE* out) {
    auto problems = stack_->BindProblems();
    if (problems == reported_) {
        return;
    }
    reported_ = problems;
    std::string line = Describe(problems, platform::system::ProgramPath());
    if (line.empty()) {
        line = "tolvane-receive: all ports bound; listening.";
    }
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}
