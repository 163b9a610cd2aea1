#include "shell/utility/ini_parser.h"

#include "platform/text/ascii.h"
#include "platform/text/utf8.h"

namespace ini {
namespace {

using platform::text::EqualsNoCase;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// 0x1A is the old end-of-file mark some editors leave behind.
constexpr std::string_view kBlanks = " \t\v\f\r\n\x1A";

std::string_view Trim(std::string_view s) {
    return platform::text::Trim(s, kBlanks);
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
    return platform::text::Utf8Prefix(text, max_bytes);
}

}  // namespace ini
