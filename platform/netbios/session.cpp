#include "platform/netbios/session.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/netbios/ncb.h"

namespace platform::netbios {

using Clock = std::chrono::steady_clock;

Session::Session(UniqueFd&& fd, std::uint8_t lana, std::uint8_t lsn, const wire::NetbiosName& local,
                 const wire::NetbiosName& remote, std::uint32_t remote_address, Limits limits)
    : fd_(std::move(fd)),
      lana_(lana),
      lsn_(lsn),
      local_(local),
      remote_(remote),
      remote_address_(remote_address),
      limits_(limits),
      reader_(static_cast<std::uint32_t>(
          std::min<std::size_t>(limits.max_message, wire::kMaxSessionLength))),
      last_heard_(Clock::now()) {}

int Session::AbortFd() {
    std::lock_guard lock(abort_mutex_);
    if (!abort_) {
        auto made =
            std::make_unique<platform::Event>(platform::Event::Mode::ManualReset, std::nothrow);
        if (!made->valid()) {
            return -1;
        }
        abort_ = std::move(made);
    }
    return abort_->fd();
}

void Session::WakeWaits() {
    // After ended_ changed: a wait that makes the signal later sees the end before it waits.
    std::lock_guard lock(abort_mutex_);
    if (abort_) {
        abort_->Set();
    }
}

Session::Wait Session::WaitFor(short events, Clock::time_point deadline) {
    // Out of descriptors for the signal, an end is looked for every few milliseconds instead.
    const int abort = AbortFd();
    for (;;) {
        if (ended_.load() != NRC_GOODRET) {
            return Wait::Aborted;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return Wait::TimedOut;
        }
        pollfd fds[2] = {{fd_.get(), events, 0}, {abort, POLLIN, 0}};
        // Round up so that a wait never ends just before its deadline and spins.
        const int r =
            ::poll(fds, 2,
                   static_cast<int>(std::min<long long>(left.count() + 1, abort < 0 ? 50 : 60000)));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Wait::Failed;
        }
        if (fds[1].revents != 0) {
            return Wait::Aborted;
        }
        if (fds[0].revents != 0) {
            return Wait::Ready;
        }
    }
}

std::optional<std::uint8_t> Session::TakeStaged(std::span<std::uint8_t> out,
                                                std::size_t& received) {
    while (staged_begin_ < staged_end_) {
        std::span<const std::uint8_t> staged(staging_.data() + staged_begin_,
                                             staged_end_ - staged_begin_);
        auto step = reader_.Next(staged, out.size() - received);
        staged_begin_ += step.consumed;
        std::copy(step.data.begin(), step.data.end(), out.begin() + received);
        received += step.data.size();
        if (!step.data.empty() || reader_.InMessage() ||
            step.status == wire::SessionStreamReader::Status::MessageEnd) {
            last_heard_ = Clock::now();  // keep-alives alone do not count
        }
        switch (step.status) {
            case wire::SessionStreamReader::Status::MessageEnd:
                return NRC_GOODRET;
            case wire::SessionStreamReader::Status::Data:
                if (received == out.size()) {
                    return NRC_INCOMP;
                }
                break;
            case wire::SessionStreamReader::Status::NeedMore:
                break;
            case wire::SessionStreamReader::Status::BadFrame:
            case wire::SessionStreamReader::Status::TooLarge:
                Abort(NRC_SABORT);
                return NRC_SABORT;
        }
    }
    return std::nullopt;
}

std::uint8_t Session::Receive(std::span<std::uint8_t> out, std::size_t& received) {
    std::lock_guard lock(receive_mutex_);
    received = 0;
    for (;;) {
        if (const std::uint8_t code = ended_.load(); code != NRC_GOODRET) {
            return code;
        }
        if (const auto code = TakeStaged(out, received)) {
            return *code;
        }
        staged_begin_ = staged_end_ = 0;
        const ssize_t n = ::recv(fd_.get(), staging_.data(), staging_.size(), MSG_DONTWAIT);
        if (n > 0) {
            staged_end_ = static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            // The peer closed: cleanly between messages, otherwise in the middle of one.
            const bool clean = reader_.AtBoundary() && received == 0;
            Abort(clean ? NRC_SCLOSED : NRC_SABORT);
            return ended_.load();
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Abort(NRC_SABORT);
            return ended_.load();
        }
        switch (WaitFor(POLLIN, last_heard_ + limits_.idle)) {
            case Wait::Ready:
                break;
            case Wait::Aborted:
                return ended_.load() != NRC_GOODRET ? ended_.load() : NRC_SABORT;
            case Wait::TimedOut:
            case Wait::Failed:
                Abort(NRC_SABORT);
                return ended_.load();
        }
    }
}

std::uint8_t Session::Send(std::span<const std::uint8_t> data) {
    std::lock_guard lock(send_mutex_);
    if (const std::uint8_t code = ended_.load(); code != NRC_GOODRET) {
        return code;
    }
    auto header = wire::EncodeSessionHeader(wire::session_type::kMessage,
                                            static_cast<std::uint32_t>(data.size()));
    iovec iov[2] = {{header.data(), header.size()},
                    {const_cast<std::uint8_t*>(data.data()), data.size()}};
    std::size_t first = 0;
    // A peer that takes nothing for the idle bound is as good as gone.
    const auto deadline = Clock::now() + limits_.idle;
    while (first < 2) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = 2 - first;
        const ssize_t n = ::sendmsg(fd_.get(), &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                Abort(NRC_SABORT);
                return ended_.load();
            }
            const Wait w = WaitFor(POLLOUT, deadline);
            if (w == Wait::Ready) {
                continue;
            }
            if (w != Wait::Aborted) {
                Abort(NRC_SABORT);
            }
            return ended_.load() != NRC_GOODRET ? ended_.load() : NRC_SABORT;
        }
        auto left = static_cast<std::size_t>(n);
        while (first < 2 && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (first < 2) {
            iov[first].iov_base = static_cast<std::uint8_t*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return NRC_GOODRET;
}

void Session::Abort(std::uint8_t code) {
    std::uint8_t open = NRC_GOODRET;
    if (ended_.compare_exchange_strong(open, code)) {
        ::shutdown(fd_.get(), SHUT_RDWR);
        WakeWaits();
    }
}

UniqueFd Session::Hangup() {
    std::uint8_t open = NRC_GOODRET;
    const bool was_open = ended_.compare_exchange_strong(open, NRC_SCLOSED);
    WakeWaits();
    // Blocked calls see the end and leave; then nobody else uses the socket.
    std::scoped_lock lock(receive_mutex_, send_mutex_);
    if (!was_open) {
        return {};
    }
    ::shutdown(fd_.get(), SHUT_WR);
    return std::move(fd_);
}

UniqueFd Session::Release() {
    std::uint8_t open = NRC_GOODRET;
    const bool was_open = ended_.compare_exchange_strong(open, NRC_SCLOSED);
    WakeWaits();
    std::scoped_lock lock(receive_mutex_, send_mutex_);
    if (!was_open || staged_begin_ != staged_end_ || !reader_.AtBoundary()) {
        return {};
    }
    return std::move(fd_);
}

}  // namespace platform::netbios
