#include "desktop/reception_notice.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "platform/netbios/port_holder.h"
#include "resources/strings/builtin_strings.h"
#include "shell/localization/localization.h"

namespace {

// The text with each "%s" replaced by the next value; values are never read as formats.
std::string Fill(const std::string& text, std::initializer_list<std::string> values) {
    std::string out;
    auto value = values.begin();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "%s") == 0 && value != values.end()) {
            out += *value++;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string DescribePort(const platform::netbios::BindProblem& problem) {
    const std::string port = std::to_string(problem.port);
    if (problem.error == EADDRINUSE) {
        const auto holder = platform::netbios::FindPortHolder(problem.port);
        return Fill(LoadLocString(strings::kPortInUse),
                    {port, holder ? holder->program + " (pid " + std::to_string(holder->pid) + ")"
                                  : LoadLocString(strings::kAnotherProgram)});
    }
    return Fill(LoadLocString(strings::kPortFailed), {port, std::strerror(problem.error)});
}

}  // namespace

std::string ReceptionNoticeText(const platform::netbios::ReceptionTrouble& trouble,
                                const std::string& program_path) {
    using Kind = platform::netbios::ReceptionTrouble::Kind;
    std::string reason;
    switch (trouble.kind) {
        case Kind::None:
            return {};
        case Kind::ServiceSilent:
            reason = LoadLocString(strings::kServiceSilent);
            break;
        case Kind::ServiceNeeded:
            reason = Fill(LoadLocString(strings::kServiceNeeded), {program_path});
            break;
        case Kind::SambaHoldsPorts:
            reason = LoadLocString(strings::kSambaHoldsPorts);
            break;
        case Kind::PortsFailed:
            for (const auto& problem : trouble.ports) {
                reason += (reason.empty() ? "" : "; ") + DescribePort(problem);
            }
            break;
    }
    return Fill(LoadLocString(strings::kNoReceptionText), {reason});
}
