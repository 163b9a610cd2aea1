#include "platform/system/system.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace platform::system {

std::string ComputerName() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        return {};
    }
    std::string name(buffer);
    name = name.substr(0, name.find('.'));
    return name.substr(0, 15);
}

std::string UserName() {
    std::string name;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pwd{};
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &pwd, buffer.data(), buffer.size(), &result) == 0 && result) {
        name = result->pw_name;
    }
    return name.substr(0, 31);
}

std::string ProgramPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

}  // namespace platform::system
