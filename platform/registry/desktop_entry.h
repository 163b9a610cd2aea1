#pragma once

#include <optional>
#include <string>
#include <string_view>

// The XDG autostart entry that starts the program at logon.
namespace platform::registry {

// A desktop entry file that runs the program at program_path, with no arguments, once the
// desktop's panel (and with it the tray) is up.
std::string AutostartEntry(std::string_view program_path);

// The Exec key's value for a program path: quoted and escaped as the desktop entry format wants
// when the path holds a reserved character.
std::string ExecValue(std::string_view program_path);

// The value of a key of a desktop entry's [Desktop Entry] group, escapes undone; nothing when the
// group has no such key.
std::optional<std::string> EntryValue(std::string_view content, std::string_view key);

// The program path from a desktop entry's content: the first word of the Exec key of its
// [Desktop Entry] group, unquoted. Nothing when there is no such key or it cannot be read.
std::optional<std::string> ProgramFromEntry(std::string_view content);

// Whether the desktop's session settings have switched the entry off: it stays as a file, with
// Hidden=true (the autostart rule every desktop follows) or X-GNOME-Autostart-enabled=false.
bool EntryIsHidden(std::string_view content);

// The program an autostart entry should run, from the running program's path as the kernel
// gives it. A binary replaced by a package upgrade while it runs reads "<path> (deleted)": the
// new binary at <path> is meant. A program run through a link in a bin folder of search_path (a
// PATH value) is named by that link. Nothing when no program is there, so that no entry ever
// runs something that does not exist.
std::optional<std::string> AutostartProgram(std::string_view running_path,
                                            std::string_view search_path);

}  // namespace platform::registry
