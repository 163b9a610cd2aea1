#include <sys/socket.h>

#include <algorithm>

#include "platform/netbios/stack_impl.h"
#include "platform/netbios/wire/session.h"

// What the stack's thread does at a time: rebinding, interface scans, expiries of waiting
// connections, sessions past their conversation limit while another sender waits, repeated
// releases and mailslot retries.
namespace platform::netbios {

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
    next = std::min(next, lingering_.NextDeadline());
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
            Refuse(it->fd.Release(), wire::session_error::kInsufficientResources);
            it = queued_.erase(it);
        } else {
            ++it;
        }
    }
    lingering_.Expire(now);
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

}  // namespace platform::netbios
