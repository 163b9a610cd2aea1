#pragma once

#include <string>
#include <string_view>

// Conversion between the OEM code page used on the wire and UTF-8, the program's own text. The
// OEM code page is configurable (CP850 unless set otherwise). A byte or character that has no
// counterpart becomes '?'; a conversion never fails.
namespace platform::codepage {

inline constexpr std::string_view kDefaultOemCodePage = "CP850";

// Selects the OEM code page by its iconv name; false (and the previous one kept) when iconv does
// not know it. Safe to call from any thread.
bool SetOemCodePage(std::string_view name);
std::string OemCodePage();

std::string OemToUtf8(std::string_view oem);
std::string Utf8ToOem(std::string_view utf8);

// The OEM line-break character 0x14 as it reads after OemToUtf8.
std::string OemLineBreak();

}  // namespace platform::codepage
