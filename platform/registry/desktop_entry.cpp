#include "platform/registry/desktop_entry.h"

#include <unistd.h>

#include <filesystem>

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

// An executable regular file, links followed.
bool IsProgram(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
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
        "X-GNOME-Autostart-enabled=true\n"
        // Started once the panel with its tray is up, as desktops do for tray programs.
        "X-GNOME-Autostart-Delay=5\n"
        "X-KDE-autostart-after=panel\n"
        "X-KDE-autostart-phase=2\n"
        "X-LXQt-Need-Tray=true\n";
    return entry;
}

std::optional<std::string> EntryValue(std::string_view content, std::string_view key) {
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
        if (!in_group || line.substr(0, key.size()) != key) {
            continue;
        }
        std::string_view rest = line.substr(key.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        if (rest.empty() || rest.front() != '=') {
            continue;  // another key that starts alike, such as "ExecStart"
        }
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        return UnescapeString(rest);
    }
    return std::nullopt;
}

bool EntryIsHidden(std::string_view content) {
    return EntryValue(content, "Hidden") == "true" ||
           EntryValue(content, "X-GNOME-Autostart-enabled") == "false";
}

std::optional<std::string> ProgramFromEntry(std::string_view content) {
    const std::optional<std::string> exec = EntryValue(content, "Exec");
    if (!exec) {
        return std::nullopt;
    }
    const std::string& value = *exec;
    // First argument: a quoted word with its escapes undone, or up to the first blank.
    std::string program;
    std::size_t i = 0;
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

std::optional<std::string> AutostartProgram(std::string_view running_path,
                                            std::string_view search_path) {
    namespace fs = std::filesystem;
    constexpr std::string_view kDeleted = " (deleted)";
    if (running_path.ends_with(kDeleted)) {
        running_path.remove_suffix(kDeleted.size());
    }
    const fs::path program(running_path);
    if (!IsProgram(program)) {
        return std::nullopt;
    }
    if (program.parent_path().filename() == "bin") {
        return program.string();
    }
    // Run from elsewhere, as through a link in a bin folder: the link is what stays the same
    // across upgrades.
    std::error_code ec;
    const fs::path real = fs::canonical(program, ec);
    for (std::size_t start = 0; !ec && start < search_path.size();) {
        std::size_t end = search_path.find(':', start);
        if (end == std::string_view::npos) {
            end = search_path.size();
        }
        const fs::path folder(search_path.substr(start, end - start));
        start = end + 1;
        if (folder.filename() != "bin" || !folder.is_absolute()) {
            continue;
        }
        const fs::path candidate = folder / program.filename();
        std::error_code other;
        if (IsProgram(candidate) && fs::canonical(candidate, other) == real && !other) {
            return candidate.string();
        }
    }
    return program.string();
}

}  // namespace platform::registry
