#include "tools/netbiosd/server/channel.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace platform::netbios::service {

Channel::Channel(UniqueFd fd, std::size_t max_waiting)
    : fd_(std::move(fd)), max_waiting_(max_waiting) {}

bool Channel::Send(std::vector<std::uint8_t> bytes, UniqueFd handed) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return true;  // the program is gone; a socket handed along closes here
    }
    out_.push_back({std::move(bytes), std::move(handed)});
    broken_ = broken_ || out_.size() > max_waiting_ || !FlushLocked();
    return !broken_;
}

bool Channel::Flush() {
    std::lock_guard lock(mutex_);
    broken_ = broken_ || (!closed_ && !FlushLocked());
    return !broken_;
}

bool Channel::FlushLocked() {
    while (!out_.empty()) {
        Outgoing& o = out_.front();
        iovec iov{o.bytes.data(), o.bytes.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))] = {};
        if (o.handed) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            const int fd = o.handed.get();
            std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
        }
        if (::sendmsg(fd_.get(), &msg, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        out_.pop_front();
    }
    return true;
}

bool Channel::Waiting() const {
    std::lock_guard lock(mutex_);
    return !out_.empty();
}

bool Channel::Broken() const {
    return broken_;
}

void Channel::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    out_.clear();
    fd_.reset();
}

}  // namespace platform::netbios::service
