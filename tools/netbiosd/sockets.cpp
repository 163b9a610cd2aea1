#include "tools/netbiosd/sockets.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

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
