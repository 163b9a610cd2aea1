#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "platform/netbios/stack_impl.h"
#include "platform/netbios/wire/session.h"

// Connections to the session port until their session request is read: accepted within the
// bounds per address and in all, then handed to the name they call.
namespace platform::netbios {

void Stack::Impl::MakeRoomForIncoming(std::uint32_t remote) {
    std::map<std::uint32_t, std::size_t> held;
    for (const auto& in : incoming_) {
        ++held[in.remote_address];
    }
    std::uint32_t victim = remote;
    if (held[remote] < config_.max_incoming_per_address) {
        if (incoming_.size() < config_.max_incoming) {
            return;
        }
        victim = std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) {
                     return a.second < b.second;
                 })->first;
    }
    // The list is in arrival order: the first match is that address's oldest.
    auto it = std::find_if(incoming_.begin(), incoming_.end(),
                           [&](const Incoming& in) { return in.remote_address == victim; });
    if (it != incoming_.end()) {
        Refuse(std::move(it->fd), wire::session_error::kInsufficientResources);
        incoming_.erase(it);
    }
}

void Stack::Impl::AcceptConnections(Clock::time_point now) {
    for (int i = 0; i < kPacketsPerWake; ++i) {
        sockaddr_in remote{};
        socklen_t remote_size = sizeof remote;
        const int fd = ::accept4(session_listener_.get(), reinterpret_cast<sockaddr*>(&remote),
                                 &remote_size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                accept_pause_ = {};
                return;
            }
            // Out of descriptors (or memory): the connection stays queued and the listener
            // readable, so polling it again at once would spin. A finished connection gives up
            // its descriptor; failing that, the listener rests while the rest goes on.
            if ((errno == EMFILE || errno == ENFILE) && lingering_.DropOldest()) {
                continue;
            }
            accept_pause_ = std::clamp(accept_pause_ * 2, kMinAcceptPause, kMaxAcceptPause);
            accept_paused_until_ = now + accept_pause_;
            return;
        }
        accept_pause_ = {};
        UniqueFd connection(fd);
        sockaddr_in local{};
        socklen_t size = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            continue;  // closes it
        }
        SetNoDelay(fd);
        Incoming in;
        in.id = next_connection_id_++;
        in.fd = std::move(connection);
        in.local_address = ntohl(local.sin_addr.s_addr);
        in.remote_address = ntohl(remote.sin_addr.s_addr);
        in.deadline = now + config_.session_request_wait;
        MakeRoomForIncoming(in.remote_address);
        incoming_.push_back(std::move(in));
        // The request usually arrives with the connection; read it without another poll.
        if (!ReadIncoming(incoming_.back(), deferred_)) {
            incoming_.pop_back();
        }
        if (!deferred_.empty()) {
            return;  // a listen it completed is told first; the next connections wait a turn
        }
    }
}

bool Stack::Impl::ReadIncoming(Incoming& in, Completions& done) {
    for (;;) {
        const ssize_t n =
            ::recv(in.fd.get(), in.buffer.data() + in.have, in.need - in.have, MSG_DONTWAIT);
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        in.have += static_cast<std::size_t>(n);
        if (in.have < in.need) {
            continue;
        }
        if (in.need == wire::kSessionHeaderSize) {
            const auto header = *wire::DecodeSessionHeader(in.buffer);
            const bool keep_alive = header.type == wire::session_type::kKeepAlive;
            if ((header.type != wire::session_type::kRequest && !keep_alive) ||
                header.length > kMaxRequestSize - wire::kSessionHeaderSize ||
                (!keep_alive && header.length == 0)) {
                return false;  // not a session service peer: just close
            }
            if (header.length == 0) {
                in.have = 0;
                continue;
            }
            in.need = wire::kSessionHeaderSize + header.length;
            continue;
        }
        if (in.buffer[0] == wire::session_type::kKeepAlive) {
            in.have = 0;
            in.need = wire::kSessionHeaderSize;
            continue;
        }
        auto request = wire::DecodeSessionRequest(std::span(in.buffer).subspan(
            wire::kSessionHeaderSize, in.need - wire::kSessionHeaderSize));
        if (!request) {
            Refuse(std::move(in.fd), wire::session_error::kUnspecified);
            return false;
        }
        HandleSessionRequest(in, *request, done);
        return false;
    }
}

}  // namespace platform::netbios
