#pragma once

#include <string>

// The full path of the folder that holds the program file, without a trailing separator (except
// for the root folder itself); empty when the program's path is unknown.
std::string GetProgramFolder();
