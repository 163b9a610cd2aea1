#pragma once

#include <optional>
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

// The bytes a NetBIOS name has on the wire for a UTF-8 name (a computer or login name), as
// senders write it: upper case by Unicode's simple mapping wherever it leads back to the letter
// (ü -> Ü; ß, ı, µ stay), whatever the process's locale; in the OEM code page, a character it
// lacks written as its closest form there (ł -> L, Œ -> OE); cut to 15 bytes. nullopt when the
// name is empty or holds a character the code page cannot write even so (ω in CP850): such a
// name has no wire form, rather than one of '?' that other names would share.
std::optional<std::string> NetbiosName(std::string_view utf8);

}  // namespace platform::codepage
