#include "ui/message_text.h"

namespace message_text {

std::string FormatWroteTo(std::string_view pattern, std::string_view origin,
                          std::string_view recipient) {
    std::string out;
    out.reserve(pattern.size() + origin.size() + recipient.size());
    int filled = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char next = pattern[i + 1];
            if (next == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (next == 's' && filled < 2) {
                out += filled == 0 ? origin : recipient;
                ++filled;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string Compose(std::string_view date, std::string_view time, std::string_view wrote_to_pattern,
                    std::string_view origin, std::string_view recipient, std::string_view message) {
    std::string out;
    out.reserve(date.size() + time.size() + wrote_to_pattern.size() + origin.size() +
                recipient.size() + message.size() + 8);
    out += date;
    out += ' ';
    out += time;
    out += "\r\n";
    out += FormatWroteTo(wrote_to_pattern, origin, recipient);
    out += "\r\n\r\n";
    out += message;
    return out;
}

}  // namespace message_text
