#include "platform/text/ascii.h"

#include <algorithm>

namespace platform::text {

std::string_view TrimLeft(std::string_view s, std::string_view blanks) {
    s.remove_prefix(std::min(s.find_first_not_of(blanks), s.size()));
    return s;
}

std::string_view TrimRight(std::string_view s, std::string_view blanks) {
    const std::size_t last = s.find_last_not_of(blanks);
    return s.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::string_view Trim(std::string_view s, std::string_view blanks) {
    return TrimRight(TrimLeft(s, blanks), blanks);
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace platform::text
