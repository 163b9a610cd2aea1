#include "platform/netbios/lingering.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace platform::netbios {

bool MustLingerAfterHangup(int fd) {
    std::uint8_t sink[512];
    ssize_t n;
    int reads = 0;
    while ((n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT)) > 0 && ++reads < 64) {
    }
    return n > 0 || (n < 0 && errno == EINTR);
}

void LingeringSockets::Add(UniqueFd fd) {
    if (fd && entries_.size() < kMax) {
        entries_.push_back({next_id_++, std::move(fd), Clock::now() + kTime});
    }
}

void LingeringSockets::Expire(Clock::time_point now) {
    std::erase_if(entries_, [&](const Entry& e) { return e.deadline <= now; });
}

LingeringSockets::Clock::time_point LingeringSockets::NextDeadline() const {
    auto next = Clock::time_point::max();
    for (const auto& e : entries_) {
        next = std::min(next, e.deadline);
    }
    return next;
}

bool LingeringSockets::DropOldest() {
    if (entries_.empty()) {
        return false;
    }
    entries_.erase(entries_.begin());
    return true;
}

void LingeringSockets::Watch(std::vector<pollfd>& fds, std::vector<std::uint64_t>& ids) const {
    for (const auto& e : entries_) {
        fds.push_back({e.fd.get(), POLLIN, 0});
        ids.push_back(e.id);
    }
}

void LingeringSockets::Drain(std::uint64_t id) {
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; });
    if (it == entries_.end()) {
        return;
    }
    std::uint8_t sink[4096];
    ssize_t n;
    int reads = 0;
    while ((n = ::recv(it->fd.get(), sink, sizeof sink, MSG_DONTWAIT)) > 0 && ++reads < 16) {
    }
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        entries_.erase(it);
    }
}

}  // namespace platform::netbios
