#include "tools/netbiosd/server/local_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace platform::netbios::service {

UniqueFd ListenLocal(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + path;
        return {};
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::strerror(errno);
        return {};
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (::connect(probe.get(), a, sizeof address) == 0) {
            error = "another NetBIOS service answers at " + path;
            return {};
        }
        ::unlink(path.c_str());  // left by one that ended
    }
    // Made with its final mode: a chmod by path after the bind could be sent elsewhere by whoever
    // can write the directory. (The mask is the process's: this runs before its threads start.)
    const mode_t umask = ::umask(0111);
    const int bound = ::bind(fd.get(), a, sizeof address);
    ::umask(umask);
    if (bound != 0 || ::listen(fd.get(), 64) != 0) {
        error = path + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}

}  // namespace platform::netbios::service
