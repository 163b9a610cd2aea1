#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/netbios/stack.h"

// Lets Netbios() use the machine's NetBIOS service, or else a stack of its own on the given
// interfaces (or all; datagrams to the given computer name, or this computer's), and tells the
// user, once per change, which ports that stack cannot bind, why, and what to do about it.
class PortProblemReporter {
  public:
    PortProblemReporter(const std::vector<std::string>& interfaces,
                        const std::string& computer_name);
    ~PortProblemReporter();

    // Writes one line when the set of unbindable ports changed since the last call.
    void ReportNew(std::FILE* out);

    // The line for a set of problems (empty when there are none).
    static std::string Describe(const std::vector<platform::netbios::BindProblem>& problems,
                                const std::string& program);

  private:
    std::string reported_;
};
