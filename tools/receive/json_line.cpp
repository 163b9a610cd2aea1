#include "tools/receive/json_line.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/text/utf8.h"

std::string JsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = platform::text::Utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text, i, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    out += '"';
    return out;
}

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    std::time_t t = system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000;
    long offset = local.tm_gmtoff / 60;
    char tail[48];
    std::snprintf(tail, sizeof tail, ".%03lld%c%02ld:%02ld",
                  static_cast<long long>(ms < 0 ? 0 : ms), offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return std::string(date) + tail;
}

std::string JsonLine(const ReceivedMessage& message,
                     std::chrono::system_clock::time_point received) {
    std::string line = "{\"kind\":";
    line += message.kind == MessageKind::Personal ? "\"personal\"" : "\"broadcast\"";
    line += ",\"origin\":" + JsonString(message.origin);
    line += ",\"recipient\":" + JsonString(message.recipient);
    line += ",\"text\":" + JsonString(message.text);
    line += ",\"received\":\"" + IsoLocalTime(received) + "\"}";
    return line;
}
