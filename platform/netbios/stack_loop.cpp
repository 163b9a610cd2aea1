#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>

#include <algorithm>
#include <array>

#include "platform/netbios/stack_impl.h"

// The stack's thread: one poll over the service sockets, the set of connections that have not
// become sessions yet, the lingering sockets and the wake-up event; work handed to it, and its
// timers (stack_timers.cpp) between the waits.
namespace platform::netbios {
namespace {

constexpr std::size_t kMaxUdpPacket = 1500;
// The wake-up event, the three service sockets, the interface watch and the connections come
// first in the poll.
constexpr std::size_t kFixedFds = 6;

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

void Stack::Impl::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-stack");
    PollSet set;
    std::vector<std::uint8_t> packet(kMaxUdpPacket);
    Lock lock(mutex_);
    while (!stopping_) {
        RunTasks();
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
        FillPollSet(now, set);
        const int wait = PollTimeout(NextDeadline(now));
        lock.unlock();
        // A negative descriptor (a port not bound) is skipped by poll.
        const int ready = ::poll(set.fds.data(), set.fds.size(), wait);
        Accepted accepted;
        if (ready > 0 && set.fds[3].revents != 0) {
            AcceptOne(set.fds[3].fd, accepted);
        }
        lock.lock();
        if (stopping_ || ready <= 0) {
            continue;
        }
        ServePorts(set.fds, packet, accepted);
        ServeConnections(set);
    }
}

void Stack::Impl::RunTasks() {
    if (tasks_.empty()) {
        return;
    }
    while (!tasks_.empty()) {
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        task.first();
        *task.second = true;
    }
    changed_.notify_all();
}

void Stack::Impl::FillPollSet(Clock::time_point now, PollSet& set) const {
    set.fds.clear();
    set.fds.push_back({wake_.fd(), POLLIN, 0});
    set.fds.push_back({name_socket_.get(), POLLIN, 0});
    set.fds.push_back({datagram_socket_.get(), POLLIN, 0});
    const bool accepting = now >= accept_paused_until_;
    set.fds.push_back({accepting ? session_listener_.get() : -1, POLLIN, 0});
    set.fds.push_back({interface_watch_.fd(), POLLIN, 0});
    set.fds.push_back({connections_.get(), POLLIN, 0});
    set.ids.clear();
    lingering_.Watch(set.fds, set.ids);
}

void Stack::Impl::ServePorts(const std::vector<pollfd>& fds, std::vector<std::uint8_t>& packet,
                             Accepted& accepted) {
    if (fds[0].revents) {
        wake_.TryConsume();
    }
    // Up to a wake's worth of datagrams from a port; cut ones are dropped.
    auto read_port = [&](short revents, const UniqueFd& socket, const auto& handle) {
        for (int i = 0; revents != 0 && socket && i < kPacketsPerWake; ++i) {
            auto from = ReceiveUdp(socket.get(), packet);
            if (!from) {
                break;
            }
            if (!from->truncated) {
                handle(std::span<const std::uint8_t>(packet).first(from->size), *from);
            }
        }
    };
    read_port(fds[1].revents, name_socket_, [&](auto bytes, const UdpSource& from) {
        HandleNameService(bytes, from, deferred_);
    });
    read_port(fds[2].revents, datagram_socket_,
              [&](auto bytes, const UdpSource& from) { HandleDatagram(bytes, from); });
    if (fds[3].revents) {
        TakeAccepted(accepted, Clock::now());
    }
    if (fds[4].revents && interface_watch_.Drain()) {
        next_interface_scan_ = Clock::now();  // listed at the loop's next turn
    }
}

void Stack::Impl::ServeConnections(const PollSet& set) {
    for (std::size_t i = kFixedFds; i < set.fds.size(); ++i) {
        if (set.fds[i].revents != 0) {
            lingering_.Drain(set.ids[i - kFixedFds]);
        }
    }
    if (set.fds[kFixedFds - 1].revents == 0) {
        return;
    }
    // Asked under the lock: what the set reports is what the lists hold now.
    std::array<epoll_event, kPacketsPerWake> ready{};
    const int n = ::epoll_wait(connections_.get(), ready.data(), ready.size(), 0);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t id = ready[i].data.u64;
        if (auto it = std::find_if(incoming_.begin(), incoming_.end(),
                                   [&](const Incoming& in) { return in.id == id; });
            it != incoming_.end()) {
            if (!ReadIncoming(*it, deferred_)) {
                incoming_.erase(it);
            }
        } else if (auto q = std::find_if(queued_.begin(), queued_.end(),
                                         [&](const Queued& q) { return q.id == id; });
                   q != queued_.end()) {
            queued_.erase(q);  // the caller gave up waiting
        }
    }
}

}  // namespace platform::netbios
