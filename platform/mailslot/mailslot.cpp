#include "platform/mailslot/mailslot.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

namespace platform::mailslot {
namespace {

constexpr std::string_view kPrefix = "\\MAILSLOT\\";

struct Address {
    sockaddr_un addr{};
    socklen_t length = 0;
};

Address MakeAddress(std::string_view name) {
    Address a;
    a.addr.sun_family = AF_UNIX;
    std::string abstract = AbstractAddress(name);
    std::size_t n = std::min(abstract.size(), sizeof a.addr.sun_path - 1);
    // sun_path[0] stays 0: the abstract namespace.
    std::memcpy(a.addr.sun_path + 1, abstract.data(), n);
    a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return a;
}

WriteResult SendOne(int fd, const Address* to, std::span<const std::uint8_t> data) {
    ssize_t n = to ? ::sendto(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&to->addr), to->length)
                   : ::send(fd, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
        return WriteResult::Written;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return WriteResult::WouldBlock;
    }
    if (errno == ECONNREFUSED || errno == ENOENT) {
        return WriteResult::NoSuchMailslot;
    }
    return WriteResult::Failed;
}

}  // namespace

std::string AbstractAddress(std::string_view name) {
    std::string upper;
    for (char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (!upper.starts_with(kPrefix)) {
        upper = std::string(kPrefix) + upper;
    }
    return "tolvane-mailslot" + upper;
}

Mailslot::~Mailslot() {
    Close();
}

Mailslot::Mailslot(Mailslot&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), max_size_(other.max_size_) {}

Mailslot& Mailslot::operator=(Mailslot&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        max_size_ = other.max_size_;
    }
    return *this;
}

std::optional<Mailslot> Mailslot::Create(std::string_view name, std::size_t max_message_size) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    Address a = MakeAddress(name);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a.addr), a.length) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    Mailslot slot;
    slot.fd_ = fd;
    slot.max_size_ = max_message_size;
    return slot;
}

std::optional<Mailslot::Info> Mailslot::GetInfo() {
    if (fd_ < 0) {
        return std::nullopt;
    }
    for (;;) {
        std::uint8_t probe;
        // MSG_TRUNC makes the peek report the whole datagram's size; an empty one still counts.
        ssize_t n = ::recv(fd_, &probe, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return Info{};
            }
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (static_cast<std::size_t>(n) <= max_size_) {
            return Info{static_cast<std::size_t>(n), 1};
        }
        // Too large for this mailslot: a writer on Windows would have been refused. Drop it.
        ::recv(fd_, &probe, 0, MSG_DONTWAIT);
    }
}

std::optional<std::size_t> Mailslot::Read(std::span<std::uint8_t> out) {
    if (fd_ < 0) {
        return std::nullopt;
    }
    for (;;) {
        ssize_t n = ::recv(fd_, out.data(), out.size(), MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

void Mailslot::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

WriteResult Write(std::string_view name, std::span<const std::uint8_t> data) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return WriteResult::Failed;
    }
    Address a = MakeAddress(name);
    WriteResult r = SendOne(fd, &a, data);
    ::close(fd);
    return r;
}

Writer::~Writer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Writer::Writer(Writer&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Writer& Writer::operator=(Writer&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

std::optional<Writer> Writer::Open(std::string_view name) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    Address a = MakeAddress(name);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.addr), a.length) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    Writer w;
    w.fd_ = fd;
    return w;
}

WriteResult Writer::Write(std::span<const std::uint8_t> data) {
    if (fd_ < 0) {
        return WriteResult::Failed;
    }
    return SendOne(fd_, nullptr, data);
}

}  // namespace platform::mailslot
