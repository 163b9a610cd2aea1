#include "platform/netbios/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform::netbios {
namespace {

sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

UniqueFd BindSocket(int type, std::uint16_t port, int& error) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = errno;
        return {};
    }
    int one = 1;
    if (type == SOCK_STREAM) {
        // Lets a restarted stack take the port while old connections sit in TIME_WAIT; TCP
        // still refuses a port another listener holds.
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    } else {
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        ::setsockopt(fd.get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        // A burst of broadcasts (a domain-wide 'net send *') arrives faster than one thread
        // hands datagrams on: give the queue room. The forced size needs privilege, which a
        // process binding these ports usually has; otherwise the system's maximum applies.
        int bytes = 4 << 20;
        if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
            ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
        }
    }
    sockaddr_in a = Endpoint(INADDR_ANY, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        error = errno;
        return {};
    }
    error = 0;
    return fd;
}

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

UniqueFd BindUdp(std::uint16_t port, int& error) {
    return BindSocket(SOCK_DGRAM, port, error);
}

UniqueFd ListenTcp(std::uint16_t port, int& error) {
    UniqueFd fd = BindSocket(SOCK_STREAM, port, error);
    if (fd && ::listen(fd.get(), 64) != 0) {
        error = errno;
        return {};
    }
    if (fd) {
        // A caller always speaks first (the session request): hand over the connection with it.
        int seconds = 5;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
        SetNoDelay(fd.get());  // inherited by every connection accepted
    }
    return fd;
}

UniqueFd NewTcpSocket() {
    return UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

void SetNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

std::optional<UdpSource> ReceiveUdp(int fd, std::span<std::uint8_t> buffer) {
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || msg.msg_namelen < sizeof from || from.sin_family != AF_INET) {
        return std::nullopt;
    }
    UdpSource s;
    s.size = static_cast<std::size_t>(n);
    s.truncated = (msg.msg_flags & MSG_TRUNC) != 0;
    s.address = ntohl(from.sin_addr.s_addr);
    s.port = ntohs(from.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            s.destination = ntohl(info.ipi_addr.s_addr);
            s.interface_index = info.ipi_ifindex;
        }
    }
    return s;
}

bool SendUdp(int fd, std::span<const std::uint8_t> data, std::uint32_t to, std::uint16_t port,
             std::uint32_t from, int interface_index) {
    sockaddr_in dest = Endpoint(to, port);
    iovec iov{const_cast<std::uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &dest;
    msg.msg_namelen = sizeof dest;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = interface_index;
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    ssize_t n;
    do {
        n = ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(data.size());
}

}  // namespace platform::netbios

namespace platform::netbios {
namespace {

bool WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count() + 1));
        if (r > 0) {
            return true;
        }
        if (r < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

bool SendAll(int fd, std::span<const std::uint8_t> data,
             std::chrono::steady_clock::time_point deadline) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data = data.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            WaitReady(fd, POLLOUT, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

bool ReceiveExactly(int fd, std::span<std::uint8_t> out,
                    std::chrono::steady_clock::time_point deadline) {
    while (!out.empty()) {
        const ssize_t n = ::recv(fd, out.data(), out.size(), MSG_DONTWAIT);
        if (n > 0) {
            out = out.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitReady(fd, POLLIN, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

bool Connect(int fd, std::uint32_t address, std::uint16_t port,
             std::chrono::steady_clock::time_point deadline) {
    sockaddr_in a = Endpoint(address, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        return true;
    }
    if (errno != EINPROGRESS || !WaitReady(fd, POLLOUT, deadline)) {
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

int PollTimeout(std::chrono::steady_clock::time_point next) {
    using Clock = std::chrono::steady_clock;
    if (next == Clock::time_point::max()) {
        return -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
}

}  // namespace platform::netbios
