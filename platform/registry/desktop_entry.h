#pragma once

#include <optional>
#include <string>
#include <string_view>

// The XDG autostart entry that starts the program at logon.
namespace platform::registry {

// A desktop entry file that runs the program at program_path, with no arguments.
std::string AutostartEntry(std::string_view program_path);

// The Exec key's value for a program path: quoted and escaped as the desktop entry format wants
// when the path holds a reserved character.
std::string ExecValue(std::string_view program_path);

// The program path from a desktop entry's content: the first word of the Exec key of its
// [Desktop Entry] group, unquoted. Nothing when there is no such key or it cannot be read.
std::optional<std::string> ProgramFromEntry(std::string_view content);

}  // namespace platform::registry
