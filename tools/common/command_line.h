#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The command-line conventions every tool shares: options first, one that takes a value takes the
// argument after it; --help (or -h) and --version end the reading and are answered alike.
namespace tools {

struct Option {
    std::string_view name;
    // Takes the option's value (empty for a flag); false refuses it, with the reason in error.
    std::function<bool(const std::string& value, std::string& error)> take;
    bool takes_value = true;
};

// Options that store their value, add it to a list, or set a flag.
std::function<bool(const std::string&, std::string&)> Store(std::string& to);
std::function<bool(const std::string&, std::string&)> Append(std::vector<std::string>& to);
std::function<bool(const std::string&, std::string&)> Set(bool& flag);

enum class Request { kRun, kHelp, kVersion };

struct CommandLine {
    Request request = Request::kRun;
    std::vector<std::string> operands;  // what follows the options
};

// Reads args against options; nullopt (with the reason in error) when they are not understood.
// With operands, the options end at "--" or at the first argument that is not one ("-" is not);
// without, such an argument is an error.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::span<const Option> options, bool takes_operands,
                                            std::string& error);

// Prints the usage or the version line when asked for one, and gives the exit status then.
std::optional<int> Answer(Request request, const char* program, const char* usage);

// Says what is wrong on standard error, with a pointer to --help; gives the exit status.
int UsageError(const char* program, const std::string& error);

}  // namespace tools
