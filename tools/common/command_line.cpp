#include "tools/common/command_line.h"

#include <algorithm>
#include <cstdio>

#include "platform/system/version.h"

namespace tools {

std::function<bool(const std::string&, std::string&)> Store(std::string& to) {
    return [&to](const std::string& value, std::string&) {
        to = value;
        return true;
    };
}

std::function<bool(const std::string&, std::string&)> Append(std::vector<std::string>& to) {
    return [&to](const std::string& value, std::string&) {
        to.push_back(value);
        return true;
    };
}

std::function<bool(const std::string&, std::string&)> Set(bool& flag) {
    return [&flag](const std::string&, std::string&) { return flag = true; };
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::span<const Option> options, bool takes_operands,
                                            std::string& error) {
    CommandLine line;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (takes_operands && (arg == "--" || arg.size() < 2 || arg[0] != '-')) {
            i += arg == "--" ? 1 : 0;
            break;
        }
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            line.request = arg == "--version" ? Request::kVersion : Request::kHelp;
            return line;
        }
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&](const Option& o) { return o.name == arg; });
        if (option == options.end()) {
            error = "unknown argument: " + arg;
            return std::nullopt;
        }
        if (option->takes_value && i + 1 >= args.size()) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        if (!option->take(option->takes_value ? args[++i] : std::string(), error)) {
            return std::nullopt;
        }
    }
    line.operands.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return line;
}

std::optional<int> Answer(Request request, const char* program, const char* usage) {
    if (request == Request::kHelp) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (request == Request::kVersion) {
        std::printf("%s (Tolvane Corvessan) %s\n", program, kTolvaneVersion);
        return 0;
    }
    return std::nullopt;
}

int UsageError(const char* program, const std::string& error) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, error.c_str(), program);
    return 2;
}

}  // namespace tools
