#pragma once

#include <string>

// Facts about this computer and this process.
namespace platform::system {

// The host name up to its first dot, at most 15 characters.
std::string ComputerName();
// The effective user's login name, at most 31 characters.
std::string UserName();
// Full path of the running program.
std::string ProgramPath();

}  // namespace platform::system
