#include <poll.h>
#include <pthread.h>

#include <algorithm>

#include "platform/netbios/stack_impl.h"

// The stack's thread: one poll over the service sockets, the connections that have not become
// sessions yet, the lingering sockets and the wake-up event; work handed to it, and its timers
// (stack_timers.cpp) between the waits.
namespace platform::netbios {
namespace {

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
        lock.lock();
        if (stopping_ || ready <= 0) {
            continue;
        }
        ServePorts(set.fds, packet);
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
    set.ids.clear();
    for (const auto& in : incoming_) {
        set.fds.push_back({in.fd.get(), POLLIN, 0});
        set.ids.push_back(in.id);
    }
    for (const auto& q : queued_) {
        // Only a hang-up matters; bytes sent early stay for the session.
        set.fds.push_back({q.fd.get(), POLLRDHUP, 0});
        set.ids.push_back(q.id);
    }
    set.lingering_from = set.fds.size();
    lingering_.Watch(set.fds, set.ids);
}

void Stack::Impl::ServePorts(const std::vector<pollfd>& fds, std::vector<std::uint8_t>& packet) {
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
}

void Stack::Impl::ServeConnections(const PollSet& set) {
    // The lists may have changed while unlocked (a listen took a waiting request, its session
    // ended and the descriptor's number went to a new connection): find each entry again by
    // its id, never by the number.
    for (std::size_t i = kFixedFds; i < set.fds.size(); ++i) {
        if (set.fds[i].revents == 0) {
            continue;
        }
        const std::uint64_t id = set.ids[i - kFixedFds];
        if (i >= set.lingering_from) {
            lingering_.Drain(id);
        } else if (auto it = std::find_if(incoming_.begin(), incoming_.end(),
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
