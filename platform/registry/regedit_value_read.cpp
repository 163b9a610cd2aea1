#include "platform/registry/regedit_format.h"
#include "platform/text/ascii.h"

namespace platform::registry {
namespace {

using text::EqualsNoCase;
using text::Trim;
using text::TrimLeft;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = text::Lower(c);
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// A comma-separated list of hex bytes ("01,ab, 7f"); an empty list is empty data.
std::optional<std::string> ReadHexBytes(std::string_view s) {
    std::string out;
    s = Trim(s);
    if (s.empty()) {
        return out;
    }
    for (;;) {
        s = TrimLeft(s);
        int value = 0;
        std::size_t digits = 0;
        while (digits < s.size() && digits < 3 && HexDigit(s[digits]) >= 0) {
            value = value * 16 + HexDigit(s[digits]);
            ++digits;
        }
        if (digits == 0 || digits > 2) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(value));
        s = TrimLeft(s.substr(digits));
        if (s.empty()) {
            return out;
        }
        if (s.front() != ',') {
            return std::nullopt;
        }
        s.remove_prefix(1);
    }
}

// The data part of a value line, after the '='.
std::optional<RegValue> ReadData(std::string_view s) {
    s = Trim(s);
    if (!s.empty() && s.front() == '"') {
        auto text = ReadQuoted(s);
        if (!text || !TrimLeft(s).empty()) {
            return std::nullopt;
        }
        return RegValue::Text(*text);
    }
    constexpr std::string_view kDword = "dword:";
    if (s.size() > kDword.size() && EqualsNoCase(s.substr(0, kDword.size()), kDword)) {
        const std::string_view digits = s.substr(kDword.size());
        if (digits.size() > 8) {
            return std::nullopt;
        }
        std::uint32_t number = 0;
        for (char c : digits) {
            const int d = HexDigit(c);
            if (d < 0) {
                return std::nullopt;
            }
            number = number * 16 + static_cast<std::uint32_t>(d);
        }
        return RegValue::Dword(number);
    }
    constexpr std::string_view kHex = "hex";
    if (s.size() >= kHex.size() + 1 && EqualsNoCase(s.substr(0, kHex.size()), kHex)) {
        s.remove_prefix(kHex.size());
        std::uint32_t type = kRegBinary;
        if (s.front() == '(') {
            const std::size_t close = s.find(')');
            if (close == std::string_view::npos || close == 1 || close > 9) {
                return std::nullopt;
            }
            type = 0;
            for (char c : s.substr(1, close - 1)) {
                const int d = HexDigit(c);
                if (d < 0) {
                    return std::nullopt;
                }
                type = type * 16 + static_cast<std::uint32_t>(d);
            }
            s.remove_prefix(close + 1);
        }
        if (s.empty() || s.front() != ':') {
            return std::nullopt;
        }
        auto bytes = ReadHexBytes(s.substr(1));
        if (!bytes) {
            return std::nullopt;
        }
        return RegValue{type, std::move(*bytes)};
    }
    return std::nullopt;
}

}  // namespace

bool ReadValueLine(std::string_view line, std::string& name, RegValue& value) {
    line = TrimLeft(line);
    if (line.front() == '@') {
        name.clear();
        line.remove_prefix(1);
    } else {
        auto quoted = ReadQuoted(line);
        if (!quoted) {
            return false;
        }
        name = std::move(*quoted);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') {
        return false;
    }
    auto data = ReadData(line.substr(1));
    if (!data) {
        return false;
    }
    value = std::move(*data);
    return true;
}

}  // namespace platform::registry
