#pragma once

#include <cstdint>
#include <utility>

#include "platform/netbios/socket.h"

namespace platform::netbios {

// A descriptor that an epoll set may watch for as long as it is held here. Leaving, destroyed or
// released to be handed on, takes it out of the set first: the set watches the socket, not the
// number, so a copy of it kept elsewhere would otherwise go on waking the set under an id that
// is no longer anyone's.
class WatchedFd {
  public:
    WatchedFd() = default;
    explicit WatchedFd(UniqueFd fd) : fd_(std::move(fd)) {}
    ~WatchedFd() { Unwatch(); }
    WatchedFd(WatchedFd&& other) noexcept
        : fd_(std::move(other.fd_)), epoll_(std::exchange(other.epoll_, -1)) {}
    WatchedFd& operator=(WatchedFd&& other) noexcept {
        if (this != &other) {
            Unwatch();
            fd_ = std::move(other.fd_);
            epoll_ = std::exchange(other.epoll_, -1);
        }
        return *this;
    }

    int get() const { return fd_.get(); }
    explicit operator bool() const { return static_cast<bool>(fd_); }
    // Has epoll watch for events under id (instead of what it watched before); false when the
    // set cannot take it.
    bool Watch(int epoll, std::uint32_t events, std::uint64_t id);
    // Out of the set, the descriptor to the caller.
    UniqueFd Release() {
        Unwatch();
        return std::move(fd_);
    }

  private:
    void Unwatch();

    UniqueFd fd_;
    int epoll_ = -1;
};

}  // namespace platform::netbios
