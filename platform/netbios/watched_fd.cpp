#include "platform/netbios/watched_fd.h"

#include <sys/epoll.h>

namespace platform::netbios {

bool WatchedFd::Watch(int epoll, std::uint32_t events, std::uint64_t id) {
    if (!fd_ || epoll < 0) {
        return false;
    }
    epoll_event event{};
    event.events = events;
    event.data.u64 = id;
    const int op = epoll_ == epoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ >= 0 && epoll_ != epoll) {
        Unwatch();
    }
    if (::epoll_ctl(epoll, op, fd_.get(), &event) != 0) {
        return false;
    }
    epoll_ = epoll;
    return true;
}

void WatchedFd::Unwatch() {
    if (epoll_ >= 0 && fd_) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd_.get(), nullptr);
    }
    epoll_ = -1;
}

}  // namespace platform::netbios
