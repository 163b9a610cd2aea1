#include "platform/text/utf8.h"

namespace platform::text {

std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = b < 0x80           ? 1
                          : (b >> 5) == 0x06 ? 2
                          : (b >> 4) == 0x0E ? 3
                          : (b >> 3) == 0x1E ? 4
                                             : 0;
    if (n == 0 || i + n > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

char32_t NextUtf8(std::string_view text, std::size_t& i) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
        ++i;
        return 0xFFFD;
    }
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(text[i]) & kLeadBits[n];
    for (std::size_t k = 1; k < n; ++k) {
        c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += n;
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) {
        return text;
    }
    std::size_t cut = max_bytes;
    // Step back over continuation bytes to the start of the sequence that would be cut ...
    std::size_t start = cut;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    // ... and drop that sequence unless it ends exactly at the cut (a stray continuation byte
    // after a plain one is kept, as it stands).
    const auto lead = static_cast<unsigned char>(text[start]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (start < cut && start + length > cut) {
        cut = start;
    }
    return text.substr(0, cut);
}

}  // namespace platform::text
