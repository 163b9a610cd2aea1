#include <arpa/inet.h>
#include <sys/epoll.h>
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
        Refuse(it->fd.Release(), wire::session_error::kInsufficientResources);
        incoming_.erase(it);
    }
}

void Stack::Impl::AcceptOne(int listener, Accepted& a) const {
    // One connection per wake: the listener stays readable while more wait, and a sender that
    // waits for its answer never has a second one queued behind it.
    sockaddr_in remote{};
    socklen_t remote_size = sizeof remote;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&remote), &remote_size,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        a.error = errno;
        return;
    }
    UniqueFd connection(fd);
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return;  // closes it
    }
    // No delay comes from the listener.
    a.in.fd = WatchedFd(std::move(connection));
    a.in.local_address = ntohl(local.sin_addr.s_addr);
    a.in.remote_address = ntohl(remote.sin_addr.s_addr);
    a.in.deadline = Clock::now() + config_.session_request_wait;
    // The request usually arrives with the connection.
    a.state = ReadRequest(a.in, a.request);
}

void Stack::Impl::TakeAccepted(Accepted& a, Clock::time_point now) {
    if (!a.in.fd) {
        const int error = a.error;
        if (error == 0 || error == EINTR || error == ECONNABORTED || error == EAGAIN ||
            error == EWOULDBLOCK) {
            return;
        }
        // Out of descriptors (or memory): the connection stays queued and the listener
        // readable, so polling it again at once would spin. A finished connection gives up its
        // descriptor; failing that, the listener rests while the rest goes on.
        if ((error == EMFILE || error == ENFILE) && lingering_.DropOldest()) {
            return;
        }
        accept_pause_ = std::clamp(accept_pause_ * 2, kMinAcceptPause, kMaxAcceptPause);
        accept_paused_until_ = now + accept_pause_;
        return;
    }
    accept_pause_ = {};
    a.in.id = next_connection_id_++;
    if (!Settle(a.in, a.state, a.request, deferred_)) {
        return;
    }
    MakeRoomForIncoming(a.in.remote_address);
    if (a.in.fd.Watch(connections_.get(), EPOLLIN, a.in.id)) {
        incoming_.push_back(std::move(a.in));
    }
}

bool Stack::Impl::ReadIncoming(Incoming& in, Completions& done) {
    std::optional<wire::SessionRequest> request;
    const RequestState state = ReadRequest(in, request);
    return Settle(in, state, request, done);
}

bool Stack::Impl::Settle(Incoming& in, RequestState state,
                         const std::optional<wire::SessionRequest>& request, Completions& done) {
    switch (state) {
        case RequestState::Pending:
            return true;
        case RequestState::Garbage:
            Refuse(in.fd.Release(), wire::session_error::kUnspecified);
            return false;
        case RequestState::Complete:
            HandleSessionRequest(in, *request, done);
            return false;
        case RequestState::Closed:
            break;
    }
    return false;
}

Stack::Impl::RequestState Stack::Impl::ReadRequest(Incoming& in,
                                                   std::optional<wire::SessionRequest>& request) {
    for (;;) {
        const ssize_t n =
            ::recv(in.fd.get(), in.buffer.data() + in.have, in.need - in.have, MSG_DONTWAIT);
        if (n == 0) {
            return RequestState::Closed;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK ? RequestState::Pending
                                                           : RequestState::Closed;
        }
        in.have += static_cast<std::size_t>(n);
        // Frames from the start of the buffer: keep-alives are dropped, the request is answered.
        while (in.have >= wire::kSessionHeaderSize) {
            const auto header = *wire::DecodeSessionHeader(in.buffer);
            const bool keep_alive = header.type == wire::session_type::kKeepAlive;
            if ((header.type != wire::session_type::kRequest && !keep_alive) ||
                header.length > kMaxRequestSize - wire::kSessionHeaderSize ||
                (!keep_alive && header.length == 0)) {
                return RequestState::Closed;  // not a session service peer: just close
            }
            const std::size_t frame = wire::kSessionHeaderSize + header.length;
            if (in.have < frame) {
                in.need = frame;
                break;
            }
            if (!keep_alive) {
                // Shorter than the shortest request only when it is no request at all.
                request = wire::DecodeSessionRequest(
                    std::span(in.buffer).subspan(wire::kSessionHeaderSize, header.length));
                return request ? RequestState::Complete : RequestState::Garbage;
            }
            std::copy(in.buffer.begin() + frame, in.buffer.begin() + in.have, in.buffer.begin());
            in.have -= frame;
            in.need = kMinRequestRead;
        }
    }
}

}  // namespace platform::netbios
