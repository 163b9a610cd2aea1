#include "platform/netbios/interface_watch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

namespace platform::netbios {

InterfaceWatch::InterfaceWatch()
    : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (fd_ && ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fd_.reset();
    }
}

bool InterfaceWatch::Drain() {
    bool changed = false;
    // Only that something arrived matters, not what: the whole list is read again anyway.
    for (int i = 0; i < 64; ++i) {
        alignas(nlmsghdr) std::uint8_t buffer[8192];
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            changed = true;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == ENOBUFS) {
            changed = true;  // the kernel dropped messages: something changed
        } else {
            break;
        }
    }
    return changed;
}

}  // namespace platform::netbios
