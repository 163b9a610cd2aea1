#include "shell/utility/ini_parser.h"

namespace ini {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    // 0x1A is the old end-of-file mark some editors leave behind.
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == 0x1A;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

std::optional<std::string_view> FindValue(std::string_view content, std::string_view section,
                                          std::string_view key) {
    if (content.substr(0, kBom.size()) == kBom) {
        content.remove_prefix(kBom.size());
    }
    section = Trim(section);
    key = Trim(key);
    bool in_section = false;
    while (!content.empty()) {
        const std::size_t end = content.find_first_of("\r\n");
        const std::string_view line = Trim(content.substr(0, end));
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            std::string_view name = line.substr(1);
            if (const std::size_t close = name.rfind(']'); close != std::string_view::npos) {
                name = name.substr(0, close);
            }
            in_section = EqualsNoCase(Trim(name), section);
            continue;
        }
        if (!in_section) {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        if (EqualsNoCase(Trim(line.substr(0, equals)), key)) {
            return Unquote(Trim(line.substr(equals + 1)));
        }
    }
    return std::nullopt;
}

std::string_view CapText(std::string_view text, std::size_t max_bytes) {
    text = text.substr(0, text.find('\0'));
    if (text.size() <= max_bytes) {
        return text;
    }
    std::size_t cut = max_bytes;
    // Step back over continuation bytes to the start of the sequence that would be cut ...
    std::size_t start = cut;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    // ... and drop that sequence unless it ends exactly at the cut.
    const auto lead = static_cast<unsigned char>(text[start]);
    std::size_t length = 1;
    if (lead >= 0xF0) {
        length = 4;
    } else if (lead >= 0xE0) {
        length = 3;
    } else if (lead >= 0xC0) {
        length = 2;
    }
    if (start < cut && start + length > cut) {
        cut = start;
    }
    return text.substr(0, cut);
}

}  // namespace ini
