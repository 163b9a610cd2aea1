#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

// Names on the wire (NetBIOS names, computer names of mailslot paths) are upper case; only ASCII
// letters change, so UTF-8 text passes through unharmed.
inline std::string UpperCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}
