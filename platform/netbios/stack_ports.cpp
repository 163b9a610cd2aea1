#include <vector>

#include "platform/netbios/machine_service.h"
#include "platform/netbios/stack_impl.h"

// The stack's ports: bound at the start and again while any could not be, and the problems told.
namespace platform::netbios {

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

}  // namespace platform::netbios
