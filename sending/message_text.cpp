#include "sending/message_text.h"

#include "platform/codepage/codepage.h"

namespace sending {
namespace {

// The length of the UTF-8 sequence starting at s[i] (1 for a stray byte).
std::size_t CharacterLength(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::size_t k = 1;
    while (k < n && i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80) {
        ++k;
    }
    return k;
}

}  // namespace

std::string WindowsLineBreaks(std::string_view utf8) {
    const std::string line_break = platform::codepage::OemLineBreak();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' || utf8[i] == '\n') {
            if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
                ++i;
            }
            out += line_break;
        } else {
            out += utf8[i];
        }
    }
    return out;
}

std::size_t OemSize(std::string_view utf8) {
    return platform::codepage::Utf8ToOem(utf8).size();
}

std::vector<std::string> TextBlocks(std::string_view utf8, std::size_t max_bytes) {
    std::vector<std::string> blocks;
    std::string block;
    std::size_t size = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t n = CharacterLength(utf8, i);
        const std::string_view character = utf8.substr(i, n);
        const std::size_t bytes = OemSize(character);
        if (size + bytes > max_bytes && !block.empty()) {
            blocks.push_back(std::move(block));
            block.clear();
            size = 0;
        }
        block += character;
        size += bytes;
        i += n;
    }
    if (!block.empty()) {
        blocks.push_back(std::move(block));
    }
    return blocks;
}

}  // namespace sending
