#include "platform/codepage/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/text/utf8.h"

namespace platform::codepage {
namespace {

using text::AppendUtf8;
using text::NextUtf8;

constexpr std::size_t kNetbiosNameBytes = 15;

// A single-byte code page (the OEM code pages are) as tables built once through iconv, so that
// every conversion is a lookup and no byte can make it fail.
struct Table {
    std::string name;
    std::array<std::string, 256> to_utf8;
    std::unordered_map<char32_t, char> from_unicode;
    std::array<char, 256> upper{};  // each byte's upper-case form within the code page
};

// Unicode's character data, whatever locale the process has chosen (Qt sets one, and toupper
// then changes meaning). C.UTF-8 comes with the C library on Debian.
locale_t UnicodeLocale() {
    static const locale_t unicode = ::newlocale(LC_ALL_MASK, "C.UTF-8", locale_t{});
    return unicode;
}

// The simple upper-case mapping where it leads back to the letter: Windows and Samba leave
// ı, µ, ſ and ς as they are, since their upper-case letters stand for other small letters too.
char32_t UpperCase(char32_t c) {
    const locale_t unicode = UnicodeLocale();
    if (unicode == locale_t{}) {
        return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
    }
    const auto upper = static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), unicode));
    return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(upper), unicode)) == c ? upper
                                                                                         : c;
}

std::unique_ptr<Table> BuildTable(std::string_view name) {
    iconv_t cd = ::iconv_open("UTF-32LE", std::string(name).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    auto table = std::make_unique<Table>();
    table->name = std::string(name);
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        unsigned char out[8] = {};
        char* inp = &in;
        char* outp = reinterpret_cast<char*>(out);
        std::size_t inleft = 1;
        std::size_t outleft = sizeof out;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::size_t r = ::iconv(cd, &inp, &inleft, &outp, &outleft);
        std::string& slot = table->to_utf8[static_cast<std::size_t>(b)];
        if (r == static_cast<std::size_t>(-1) || outleft != sizeof out - 4) {
            slot.assign(1, '?');
            continue;
        }
        char32_t c =
            static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24));
        AppendUtf8(slot, c);
        table->from_unicode.emplace(c, static_cast<char>(b));
    }
    ::iconv_close(cd);
    for (int b = 0; b < 256; ++b) {
        table->upper[static_cast<std::size_t>(b)] = static_cast<char>(b);
    }
    for (const auto& [c, b] : table->from_unicode) {
        if (auto it = table->from_unicode.find(UpperCase(c)); it != table->from_unicode.end()) {
            table->upper[static_cast<unsigned char>(b)] = it->second;
        }
    }
    return table;
}

// The closest form the code page has for a character it lacks (ł -> l, Œ -> OE), as iconv's
// transliteration gives it under a fixed locale; empty when there is none.
std::string Transliterate(const Table& table, char32_t c) {
    const locale_t unicode = UnicodeLocale();
    if (unicode == locale_t{}) {
        return {};
    }
    const locale_t previous = ::uselocale(unicode);
    std::string out;
    iconv_t cd = ::iconv_open((table.name + "//TRANSLIT").c_str(), "UTF-32LE");
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        unsigned char in[4] = {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8),
                               static_cast<unsigned char>(c >> 16),
                               static_cast<unsigned char>(c >> 24)};
        char buffer[16];
        char* inp = reinterpret_cast<char*>(in);
        char* outp = buffer;
        std::size_t inleft = sizeof in;
        std::size_t outleft = sizeof buffer;
        if (::iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<std::size_t>(-1) &&
            inleft == 0) {
            out.assign(buffer, outp);
        }
        ::iconv_close(cd);
    }
    ::uselocale(previous);
    // Transliteration writes '?' for what it cannot write either.
    return out.find('?') == std::string::npos ? out : std::string();
}

std::mutex g_mutex;
std::shared_ptr<const Table> g_table;

std::shared_ptr<const Table> Current() {
    std::lock_guard lock(g_mutex);
    if (!g_table) {
        g_table = BuildTable(kDefaultOemCodePage);
    }
    return g_table;
}

}  // namespace

bool SetOemCodePage(std::string_view name) {
    auto table = BuildTable(name);
    if (!table) {
        return false;
    }
    std::lock_guard lock(g_mutex);
    g_table = std::move(table);
    return true;
}

std::string OemCodePage() {
    return Current()->name;
}

std::string OemToUtf8(std::string_view oem) {
    auto table = Current();
    std::string out;
    out.reserve(oem.size());
    for (char ch : oem) {
        out += table->to_utf8[static_cast<unsigned char>(ch)];
    }
    return out;
}

std::string Utf8ToOem(std::string_view utf8) {
    auto table = Current();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = NextUtf8(utf8, i);
        auto it = table->from_unicode.find(c);
        out += it != table->from_unicode.end() ? it->second : '?';
    }
    return out;
}

std::string OemLineBreak() {
    return Current()->to_utf8[0x14];
}

std::optional<std::string> NetbiosName(std::string_view utf8) {
    auto table = Current();
    std::string out;
    for (std::size_t i = 0; i < utf8.size() && out.size() < kNetbiosNameBytes;) {
        const char32_t c = UpperCase(NextUtf8(utf8, i));
        if (auto it = table->from_unicode.find(c); it != table->from_unicode.end()) {
            out += it->second;
            continue;
        }
        const std::string closest = Transliterate(*table, c);
        if (closest.empty()) {
            return std::nullopt;
        }
        for (char b : closest) {
            out += table->upper[static_cast<unsigned char>(b)];
        }
    }
    if (out.empty()) {
        return std::nullopt;
    }
    out.resize(std::min(out.size(), kNetbiosNameBytes));
    return out;
}

}  // namespace platform::codepage
