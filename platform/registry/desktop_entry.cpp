#include "platform/registry/desktop_entry.h"

namespace platform::registry {
namespace {

// Characters that make an Exec argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// The desktop entry format escapes these in every string value.
std::string EscapeString(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string UnescapeString(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        switch (s[++i]) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 's':
                out += ' ';
                break;
            default:
                out += s[i];
        }
    }
    return out;
}

}  // namespace

std::string ExecValue(std::string_view program_path) {
    std::string arg;
    const bool quote = program_path.find_first_of(kReserved) != std::string_view::npos;
    if (quote) {
        arg += '"';
    }
    for (char c : program_path) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            arg += '\\';
        }
        // A literal percent sign is doubled: single ones introduce field codes.
        if (c == '%') {
            arg += '%';
        }
        arg += c;
    }
    if (quote) {
        arg += '"';
    }
    return EscapeString(arg);
}

std::string AutostartEntry(std::string_view program_path) {
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Tolvane Corvessan\n"
        "Comment='net send' message receiver\n"
        "Exec=";
    entry += ExecValue(program_path);
    entry +=
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return entry;
}

std::optional<std::string> ProgramFromEntry(std::string_view content) {
    bool in_group = false;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string_view::npos) {
            end = content.size();
        }
        std::string_view line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty() && line.front() == '[') {
            in_group = line == "[Desktop Entry]";
            continue;
        }
        constexpr std::string_view kExec = "Exec";
        if (!in_group || line.substr(0, kExec.size()) != kExec) {
            continue;
        }
        std::string_view rest = line.substr(kExec.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        if (rest.empty() || rest.front() != '=') {
            continue;  // another key, such as "ExecStart"
        }
        rest.remove_prefix(1);
        const std::string value = UnescapeString(rest);
        // First argument: a quoted word with its escapes undone, or up to the first blank.
        std::string program;
        std::size_t i = 0;
        while (i < value.size() && value[i] == ' ') {
            ++i;
        }
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) {
                    ++i;
                }
                program += value[i];
            }
            if (i >= value.size()) {
                return std::nullopt;  // no closing quote
            }
        } else {
            for (; i < value.size() && value[i] != ' '; ++i) {
                program += value[i];
            }
        }
        // Doubled percent signs stand for one.
        std::string out;
        for (std::size_t k = 0; k < program.size(); ++k) {
            out += program[k];
            if (program[k] == '%' && k + 1 < program.size() && program[k + 1] == '%') {
                ++k;
            }
        }
        return out;
    }
    return std::nullopt;
}

}  // namespace platform::registry
