#include "shell/utility/program_folder.h"

#include <filesystem>

#include "platform/system/system.h"

std::string GetProgramFolder() {
    const std::filesystem::path program = platform::system::ProgramPath();
    if (program.empty() || !program.has_parent_path()) {
        return {};
    }
    return program.parent_path().string();
}
