#include <algorithm>
#include <cstdio>

#include "platform/registry/regedit_format.h"

namespace platform::registry {
namespace {

// Bytes of hex data written on one line before continuing on the next, as regedit does.
constexpr std::size_t kHexPerLine = 24;

std::string HexList(std::string_view prefix, std::string_view bytes) {
    std::string out(prefix);
    char digits[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
        out += digits;
        if (i + 1 < bytes.size()) {
            out += ',';
            if ((i + 1) % kHexPerLine == 0) {
                out += "\\\n  ";
            }
        }
    }
    return out;
}

// A REG_SZ whose text is one line of characters the quoted form can hold.
bool FitsQuotedForm(const RegValue& value) {
    const std::string& d = value.data;
    if (d.empty() || d.back() != '\0') {
        return false;
    }
    return std::none_of(d.begin(), d.end() - 1, [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

}  // namespace

std::vector<std::string> ValueLines(std::string_view name, const RegValue& value) {
    std::string line = name.empty() ? std::string("@") : Quote(name);
    line += '=';
    if (value.type == kRegSz && FitsQuotedForm(value)) {
        line += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
    } else if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t n = 0;
        for (int i = 3; i >= 0; --i) {
            n = n << 8 | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(n));
        line += digits;
    } else if (value.type == kRegBinary) {
        line += HexList("hex:", value.data);
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
        line += HexList(prefix, value.data);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find('\n', start);
        lines.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return lines;
        }
        start = end + 1;
    }
}

}  // namespace platform::registry
