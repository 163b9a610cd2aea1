#include "tools/receive/port_problems.h"

#include <cerrno>

#include "platform/system/system.h"

namespace nb = platform::netbios;

PortProblemReporter::PortProblemReporter(const std::vector<std::string>& interfaces) {
    nb::Stack::Config config;
    config.interfaces = interfaces;
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
    for (std::size_t i = 0; i < problems.size(); ++i) {
        line += (i ? "; " : "") + nb::DescribeBindProblem(problems[i]);
        privilege = privilege || problems[i].error == EACCES || problems[i].error == EPERM;
        in_use = in_use || problems[i].error == EADDRINUSE;
    }
    if (privilege) {
        line += ". Grant the capability with: sudo setcap cap_net_bind_service=+ep " + program;
    }
    if (in_use) {
        line += ". Stop the program holding the port (Samba: sudo systemctl stop smbd nmbd)";
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
