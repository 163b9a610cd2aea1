#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "platform/netbios/machine_service.h"
#include "platform/netbios/stack_impl.h"

// The stack's thread: one poll over the service sockets, the connections that have not become
// sessions yet and the wake-up event; the timers of registration-free work (releases, expiries,
// mailslot retries, rebinding, interface scans).
namespace platform::netbios {
namespace {

constexpr int kPacketsPerWake = 64;
constexpr std::size_t kMaxUdpPacket = 1500;
// The wake-up event, the three service sockets and the interface watch come first in the poll.
constexpr std::size_t kFixedFds = 5;

}  // namespace

bool Stack::Impl::RunOnStackThread(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        std::lock_guard lock(mutex_);
        fn();
        return true;
    }
    auto done = std::make_shared<bool>(false);
    Lock lock(mutex_);
    if (stopping_) {
        return false;
    }
    tasks_.emplace_back(fn, done);
    Wake();
    changed_.wait(lock, [&] { return *done || stopping_; });
    return *done;
}

bool Stack::Impl::TryBind() {
    std::vector<BindProblem> problems;
    auto attempt = [&](UniqueFd& fd, std::uint16_t port, bool tcp) {
        if (fd) {
            return;
        }
        int error = 0;
        fd = tcp ? ListenTcp(port, error) : BindUdp(port, error);
        if (!fd) {
            problems.push_back({port, error});
        }
    };
    attempt(name_socket_, config_.name_port, false);
    attempt(datagram_socket_, config_.datagram_port, false);
    attempt(session_listener_, config_.session_port, true);
    name_bound_ = static_cast<bool>(name_socket_);
    datagram_bound_ = static_cast<bool>(datagram_socket_);
    session_bound_ = static_cast<bool>(session_listener_);
    const bool changed = problems != bind_problems_;
    bind_problems_ = std::move(problems);
    return changed;
}

void Stack::Impl::ReportBindProblems(Lock& lock) {
    if (bind_problems_ == reported_problems_) {
        return;
    }
    reported_problems_ = bind_problems_;
    ReceptionChanged().Set();
    if (!config_.on_bind_problems) {
        return;
    }
    auto problems = bind_problems_;
    lock.unlock();
    config_.on_bind_problems(problems);
    lock.lock();
}

bool Stack::Impl::EnsurePorts(bool names, bool sessions, bool datagrams) {
    auto ready = [&] {
        return (!names || name_bound_) && (!sessions || session_bound_) &&
               (!datagrams || datagram_bound_);
    };
    if (ready()) {
        return true;
    }
    RunOnStackThread([this] { TryBind(); });
    return ready();
}

void Stack::Impl::RefreshInterfaces(Completions& done) {
    auto list = ListIpv4Interfaces(config_.interfaces);
    if (!list) {
        return;  // the system could not be asked: that says nothing about the adapters
    }
    const auto numbers = lana_numbers_.Assign(*list);
    std::set<std::uint8_t> seen;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const std::uint8_t n = numbers[i];
        if (n == 0xFF) {
            continue;
        }
        seen.insert(n);
        auto [it, inserted] = lanas_.try_emplace(n);
        Lana& lana = it->second;
        if (inserted || !lana.present) {
            lana = Lana{};
            lana.number = n;
            lana.max_names = config_.names_per_lana;
        }
        lana.iface = (*list)[i];
        lana.present = true;
        lana_present_[n] = true;
    }
    for (auto& [n, lana] : lanas_) {
        if (lana.present && !seen.contains(n)) {
            DropLana(lana, NRC_BRIDGE, done);
            lana.present = false;
            lana_present_[n] = false;
        }
    }
}

Clock::time_point Stack::Impl::NextDeadline(Clock::time_point now) const {
    // Only what is due arms the wait: with nothing due the thread sleeps until woken.
    Clock::time_point next = next_interface_scan_;
    if (!bind_problems_.empty()) {
        next = std::min(next, next_bind_try_);
    }
    for (const auto& in : incoming_) {
        next = std::min(next, in.deadline);
    }
    for (const auto& q : queued_) {
        next = std::min(next, q.deadline);
    }
    for (const auto& l : lingering_) {
        next = std::min(next, l.deadline);
    }
    for (const auto& r : repeated_) {
        next = std::min(next, r.next);
    }
    if (accept_paused_until_ > now) {
        next = std::min(next, accept_paused_until_);
    }
    ForEachContendedSession([&](Session& s) { next = std::min(next, s.deadline()); });
    {
        std::lock_guard copies(handed_over_mutex_);
        for (const auto& h : handed_over_) {
            if (Contended(h.lana, h.local)) {
                next = std::min(next, h.deadline);
            }
        }
    }
    if (auto retry = delivery_.NextRetry()) {
        next = std::min(next, *retry);
    }
    return next;
}

void Stack::Impl::RunTimers(Clock::time_point now, Completions& done) {
    if (!bind_problems_.empty() && now >= next_bind_try_) {
        TryBind();
        next_bind_try_ = now + config_.rebind_interval;
    }
    if (now >= next_interface_scan_) {
        RefreshInterfaces(done);
        next_interface_scan_ = NextInterfaceScan(now);
    }
    std::erase_if(incoming_, [&](const Incoming& in) { return in.deadline <= now; });
    for (auto it = queued_.begin(); it != queued_.end();) {
        if (it->deadline <= now) {
            // No listen came in time: the name's port is busy for longer than a sender waits.
            Refuse(std::move(it->fd), wire::session_error::kInsufficientResources);
            it = queued_.erase(it);
        } else {
            ++it;
        }
    }
    std::erase_if(lingering_, [&](const Lingering& l) { return l.deadline <= now; });
    std::erase_if(overran_, [&](const auto& o) { return o.second <= now; });
    ForEachContendedSession([&](Session& s) {
        if (s.deadline() <= now) {
            s.Abort(NRC_SABORT);  // its port listens again and takes the next sender
            if (overran_.size() < kMaxOverrunAddresses) {
                overran_[s.remote_address()] = now + kOverrunMemory;
            }
        }
    });
    {
        std::lock_guard copies(handed_over_mutex_);
        std::erase_if(handed_over_, [&](const HandedOver& h) {
            if (h.deadline > now || !Contended(h.lana, h.local)) {
                return false;
            }
            // The other process's next receive fails: its port listens again.
            ::shutdown(h.fd.get(), SHUT_RDWR);
            if (overran_.size() < kMaxOverrunAddresses) {
                overran_[h.remote_address] = now + kOverrunMemory;
            }
            return true;
        });
    }
    for (auto& r : repeated_) {
        if (r.next > now) {
            continue;
        }
        if (const Lana* lana = FindLana(r.lana); lana && name_socket_) {
            BroadcastRelease(*lana, r.name, r.trn_id);
        }
        --r.left;
        r.next = now + config_.registration_interval;
    }
    std::erase_if(repeated_, [](const Repeated& r) { return r.left <= 0; });
    delivery_.Retry(now);
}

bool Stack::Impl::Contended(std::uint8_t lana, const NetbiosName& name) const {
    return std::any_of(queued_.begin(), queued_.end(),
                       [&](const Queued& q) { return q.lana == lana && q.called == name; });
}

void Stack::Impl::ForEachContendedSession(const std::function<void(Session&)>& fn) const {
    if (queued_.empty()) {
        return;
    }
    sessions_.ForEach([&](Session& session) {
        if (session.state() == NRC_GOODRET && Contended(session.lana(), session.local_name())) {
            fn(session);
        }
    });
}

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
            if ((errno == EMFILE || errno == ENFILE) && !lingering_.empty()) {
                lingering_.erase(lingering_.begin());
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

void Stack::Impl::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-stack");
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;  // the connection behind each descriptor past the fixed ones
    std::vector<std::uint8_t> packet(kMaxUdpPacket);
    Lock lock(mutex_);
    while (!stopping_) {
        bool ran_tasks = false;
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            task.first();
            *task.second = true;
            ran_tasks = true;
        }
        if (ran_tasks) {
            changed_.notify_all();
        }
        Completions done = std::move(deferred_);
        deferred_.clear();
        const auto now = Clock::now();
        RunTimers(now, done);
        ReportBindProblems(lock);
        if (!done.empty()) {
            lock.unlock();
            FinishAll(done);
            lock.lock();
            continue;
        }

        fds.clear();
        fds.push_back({wake_.fd(), POLLIN, 0});
        fds.push_back({name_socket_.get(), POLLIN, 0});
        fds.push_back({datagram_socket_.get(), POLLIN, 0});
        const bool accepting = now >= accept_paused_until_;
        fds.push_back({accepting ? session_listener_.get() : -1, POLLIN, 0});
        fds.push_back({interface_watch_.fd(), POLLIN, 0});
        ids.clear();
        for (const auto& in : incoming_) {
            fds.push_back({in.fd.get(), POLLIN, 0});
            ids.push_back(in.id);
        }
        for (const auto& q : queued_) {
            // Only a hang-up matters; bytes sent early stay for the session.
            fds.push_back({q.fd.get(), POLLRDHUP, 0});
            ids.push_back(q.id);
        }
        for (const auto& l : lingering_) {
            fds.push_back({l.fd.get(), POLLIN, 0});
            ids.push_back(l.id);
        }
        const auto next = NextDeadline(now);
        const auto wait =
            next == Clock::time_point::max()
                ? -1
                : std::clamp<long long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now())
                              .count() +
                          1,
                      0, 60000);
        lock.unlock();
        // A negative descriptor (a port not bound) is skipped by poll.
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(wait));
        lock.lock();
        if (stopping_ || ready <= 0) {
            continue;
        }
        if (fds[0].revents) {
            wake_.TryConsume();
        }
        if (fds[1].revents && name_socket_) {
            for (int i = 0; i < kPacketsPerWake; ++i) {
                auto from = ReceiveUdp(name_socket_.get(), packet);
                if (!from) {
                    break;
                }
                if (!from->truncated) {
                    HandleNameService(std::span(packet).first(from->size), *from, deferred_);
                }
            }
        }
        if (fds[2].revents && datagram_socket_) {
            for (int i = 0; i < kPacketsPerWake; ++i) {
                auto from = ReceiveUdp(datagram_socket_.get(), packet);
                if (!from) {
                    break;
                }
                if (!from->truncated) {
                    HandleDatagram(std::span(packet).first(from->size), *from);
                }
            }
        }
        if (fds[3].revents && session_listener_) {
            AcceptConnections(Clock::now());
        }
        if (fds[4].revents && interface_watch_.Drain()) {
            next_interface_scan_ = Clock::now();  // listed at the loop's next turn
        }
        // The lists may have changed while unlocked (a listen took a waiting request, its session
        // ended and the descriptor's number went to a new connection): find each entry again by
        // its id, never by the number.
        for (std::size_t i = kFixedFds; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            const std::uint64_t id = ids[i - kFixedFds];
            if (auto it = std::find_if(incoming_.begin(), incoming_.end(),
                                       [&](const Incoming& in) { return in.id == id; });
                it != incoming_.end()) {
                if (!ReadIncoming(*it, deferred_)) {
                    incoming_.erase(it);
                }
                continue;
            }
            if (auto it = std::find_if(queued_.begin(), queued_.end(),
                                       [&](const Queued& q) { return q.id == id; });
                it != queued_.end()) {
                queued_.erase(it);  // the caller gave up waiting
                continue;
            }
            if (auto it = std::find_if(lingering_.begin(), lingering_.end(),
                                       [&](const Lingering& l) { return l.id == id; });
                it != lingering_.end()) {
                const int fd = it->fd.get();
                std::uint8_t sink[4096];
                ssize_t n;
                int reads = 0;
                while ((n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT)) > 0 && ++reads < 16) {
                }
                if (n == 0 ||
                    (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    lingering_.erase(it);
                }
            }
        }
    }
}

}  // namespace platform::netbios
