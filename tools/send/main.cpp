// tolvane-send: sends a 'net send' message to a name, or to every computer of the LAN, and says
// whether it was delivered: exit status 0 when the recipient acknowledged it, 1 (with one line on
// standard error) when it did not, 2 for a usage error.
#include <arpa/inet.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/netbios/machine_service.h"
#include "platform/system/system.h"
#include "sending/message_text.h"
#include "sending/sender.h"
#include "tools/send/options.h"

namespace {

constexpr const char* kProgram = "tolvane-send";

int UsageError(const std::string& error) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), kSendUsage);
    return 2;
}

// Standard input, at most limit + 1 bytes (enough to tell that it is too long), without the line
// break that ends its last line.
std::string ReadText(std::size_t limit) {
    std::string text;
    char chunk[4096];
    std::size_t n = 0;
    while (text.size() <= limit && (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
        text.append(chunk, n);
    }
    if (text.size() > limit + 1) {
        text.resize(limit + 1);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        text += (i ? " " : "") + words[i];
    }
    return text;
}

int Run(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::string error;
    const auto options = ParseSendOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        return UsageError(error);
    }
    if (const auto status = tools::Answer(options->request, kProgram, kSendUsage)) {
        return *status;
    }
    if (!options->oem_codepage.empty() &&
        !platform::codepage::SetOemCodePage(options->oem_codepage)) {
        return UsageError("unknown code page " + options->oem_codepage);
    }
    in_addr address{};
    if (!options->address.empty() &&
        ::inet_pton(AF_INET, options->address.c_str(), &address) != 1) {
        return UsageError("not an IPv4 address: " + options->address);
    }

    sending::Message message;
    message.from = options->from.empty() ? platform::system::UserName() : options->from;
    message.to = options->broadcast ? "*" : options->name;
    // Four bytes of UTF-8 at most per OEM byte: longer input cannot fit whatever it holds.
    message.text = options->text.empty() ? ReadText(4 * sending::kMaxText) : Joined(options->text);

    platform::netbios::Stack::Config config;
    config.interfaces = options->interfaces;
    platform::netbios::ChooseAutomatically(config);
    const sending::Result result = options->broadcast
                                       ? sending::Broadcast(message)
                                       : sending::SendMessage(message, ntohl(address.s_addr));
    platform::netbios::SetProcessStack(nullptr);
    if (result.outcome == sending::Outcome::Delivered) {
        return 0;
    }
    std::fprintf(stderr, "%s: %s\n", kProgram, result.problem.c_str());
    return result.outcome == sending::Outcome::BadRequest ? 2 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: cannot start: %s\n", kProgram, e.what());
        return 1;
    }
}
