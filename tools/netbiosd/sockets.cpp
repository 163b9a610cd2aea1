#include "tools/netbiosd/sockets.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

using platform::netbios::UniqueFd;

namespace {

void PrepareUdp(int fd) {
    // The service manager is asked for both; set again in case a unit left them out. Neither
    // needs a privilege (the forced receive buffer does: that one comes from the unit).
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
}

}  // namespace

ServiceSockets InheritedSockets(std::uint16_t name_port, std::uint16_t datagram_port,
                                std::uint16_t session_port, std::string& error) {
    ServiceSockets s;
    const int count = sd_listen_fds(1);
    for (int i = 0; i < count; ++i) {
        const int fd = SD_LISTEN_FDS_START + i;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        UniqueFd* slot = nullptr;
        if (sd_is_socket_unix(fd, SOCK_SEQPACKET, 1, nullptr, 0) > 0) {
            slot = &s.local;
        } else if (sd_is_socket_inet(fd, AF_INET, SOCK_DGRAM, -1, name_port) > 0) {
            slot = &s.name;
            PrepareUdp(fd);
        } else if (sd_is_socket_inet(fd, AF_INET, SOCK_DGRAM, -1, datagram_port) > 0) {
            slot = &s.datagram;
            PrepareUdp(fd);
        } else if (sd_is_socket_inet(fd, AF_INET, SOCK_STREAM, 1, session_port) > 0) {
            slot = &s.session;
        }
        if (slot == nullptr || *slot) {
            error += (error.empty() ? "" : "; ") + std::string("socket ") + std::to_string(fd) +
                     " is none this service serves on (IPv4 only)";
            ::close(fd);
            continue;
        }
        slot->reset(fd);
    }
    return s;
}

UniqueFd MakeLocalSocket(const std::string& path, std::string& error) {
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
    if (::bind(fd.get(), a, sizeof address) != 0 || ::chmod(path.c_str(), 0666) != 0 ||
        ::listen(fd.get(), 64) != 0) {
        error = path + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}
