#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/regedit.h"

// The REGEDIT4 text forms the registry file's reader and editor share.
namespace platform::registry {

inline constexpr std::string_view kRegeditHeader = "REGEDIT4";
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Reads a quoted string at the start of s (which begins with '"'), undoing the \\ and \" escapes.
// On success s is left just after the closing quote.
std::optional<std::string> ReadQuoted(std::string_view& s);
std::string Quote(std::string_view s);

// A value line ("name"=data or @=data), continuations already joined.
bool ReadValueLine(std::string_view line, std::string& name, RegValue& value);
// The lines of one value as written to the file.
std::vector<std::string> ValueLines(std::string_view name, const RegValue& value);

}  // namespace platform::registry
