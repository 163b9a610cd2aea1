#pragma once

#include <string_view>

// Plain-ASCII text rules shared by the file formats the program reads (registry and INI files).
namespace platform::text {

inline constexpr std::string_view kSpaceAndTab = " \t";

std::string_view TrimLeft(std::string_view s, std::string_view blanks = kSpaceAndTab);
std::string_view TrimRight(std::string_view s, std::string_view blanks = kSpaceAndTab);
std::string_view Trim(std::string_view s, std::string_view blanks = kSpaceAndTab);

// ASCII letters only: other bytes compare as they are, whatever the locale.
char Lower(char c);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace platform::text
