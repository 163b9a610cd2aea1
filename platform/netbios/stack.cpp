#include "platform/netbios/stack.h"

#include <sys/epoll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/codepage/codepage.h"
#include "platform/netbios/ncb_dispatch.h"
#include "platform/netbios/port_holder.h"
#include "platform/netbios/stack_impl.h"
#include "platform/system/system.h"

namespace platform::netbios {
namespace {

std::string ComputerNameFor(const std::string& configured) {
    const std::string name = configured.empty() ? platform::system::ComputerName() : configured;
    return platform::codepage::NetbiosName(name).value_or(std::string());
}

std::uint16_t RandomId() {
    std::random_device rd;
    return static_cast<std::uint16_t>(rd());
}

}  // namespace

std::string DescribeBindProblem(const BindProblem& problem) {
    std::string text = "port " + std::to_string(problem.port) + ": ";
    switch (problem.error) {
        case EACCES:
        case EPERM:
            return text + "permission denied (needs CAP_NET_BIND_SERVICE)";
        case EADDRINUSE:
            if (const auto holder = FindPortHolder(problem.port)) {
                return text + "in use by " + holder->program + " (pid " +
                       std::to_string(holder->pid) + ")";
            }
            return text + "in use by another program";
        default:
            return text + std::strerror(problem.error);
    }
}

Stack::Stack() : Stack(Config{}) {}
Stack::Stack(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}
Stack::~Stack() = default;

std::uint8_t Stack::Submit(NCB* ncb) {
    return impl_->Submit(ncb);
}
std::vector<BindProblem> Stack::BindProblems() const {
    return impl_->BindProblems();
}
std::vector<Stack::Adapter> Stack::Adapters() const {
    return impl_->Adapters();
}

int Stack::DetachSession(std::uint8_t lana, std::uint8_t lsn) {
    return impl_->DetachSession(lana, lsn);
}

bool Stack::WriteMailslot(std::uint8_t lana, std::string_view computer_or_star,
                          std::string_view mailslot, std::span<const std::uint8_t> data) {
    if (lana != kEveryAdapter) {
        return impl_->WriteMailslot(lana, computer_or_star, mailslot, data);
    }
    const auto adapters = Adapters();
    const bool only_loopback =
        std::all_of(adapters.begin(), adapters.end(), [](const Adapter& a) { return a.loopback; });
    bool written = false;
    for (const Adapter& a : adapters) {
        if (a.loopback == only_loopback) {
            written = impl_->WriteMailslot(a.lana, computer_or_star, mailslot, data) || written;
        }
    }
    return written;
}

Stack::Impl::Impl(Config config)
    : config_(std::move(config)),
      computer_name_(ComputerNameFor(config_.computer_name)),
      delivery_(platform::mailslot::Write, config_.mailslot_backlog),
      next_transaction_id_(RandomId()),
      next_datagram_id_(RandomId()) {
    // The sockets and the interface list belong to the network namespace of the creating thread,
    // which the stack's thread inherits.
    Completions none;
    name_socket_.reset(config_.name_socket);
    datagram_socket_.reset(config_.datagram_socket);
    session_listener_.reset(config_.session_socket);
    if (session_listener_) {
        SetNoDelay(session_listener_.get());  // inherited by every connection accepted
    }
    connections_.reset(::epoll_create1(EPOLL_CLOEXEC));
    TryBind();
    RefreshInterfaces(none);
    reported_problems_ = bind_problems_;
    const auto now = Clock::now();
    next_bind_try_ = now + config_.rebind_interval;
    next_interface_scan_ = NextInterfaceScan(now);
    // Told from a copy: once the thread runs, it may bind again and change the list.
    const std::vector<BindProblem> problems = bind_problems_;
    thread_ = std::thread([this] { Run(); });
    if (!problems.empty() && config_.on_bind_problems) {
        config_.on_bind_problems(problems);
    }
}

Stack::Impl::~Impl() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    Wake();
    thread_.join();

    Completions done;
    std::vector<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(mutex_);
        for (auto& [number, lana] : lanas_) {
            for (auto& [name, entry] : lana.names) {
                FailListens(entry, NRC_SYSTEM, done);
            }
            lana.names.clear();
        }
        sessions = sessions_.TakeAll();
        tasks_.clear();
    }
    changed_.notify_all();
    for (auto& s : sessions) {
        s->Abort(NRC_SABORT);
    }
    FinishAll(done);
}

void Stack::Impl::FinishAll(Completions& done) {
    for (auto& c : done) {
        Finish(c.ncb, c.code);
    }
    done.clear();
}

std::uint8_t Stack::Impl::Submit(NCB* ncb) {
    return Dispatch(
        ncb, [&](bool async) { return Listen(ncb, async); },
        [&](std::uint8_t command) { return RunCommand(ncb, command); });
}

std::uint8_t Stack::Impl::RunCommand(NCB* ncb, std::uint8_t command) {
    switch (command) {
        case NCBADDNAME:
            return AddName(ncb);
        case NCBDELNAME:
            return DeleteName(ncb);
        case NCBRESET:
            return Reset(ncb);
        case NCBENUM:
            return Enumerate(ncb);
        case NCBCALL:
            return Call(ncb);
        case NCBRECV:
            return Receive(ncb);
        case NCBSEND:
            return Send(ncb);
        case NCBHANGUP:
            return Hangup(ncb);
        default:
            return NRC_ILLCMD;
    }
}

std::vector<BindProblem> Stack::Impl::BindProblems() const {
    std::lock_guard lock(mutex_);
    return bind_problems_;
}

std::vector<Stack::Adapter> Stack::Impl::Adapters() const {
    std::lock_guard lock(mutex_);
    std::vector<Adapter> list;
    for (const auto& [number, lana] : lanas_) {
        if (lana.present) {
            list.push_back({number, lana.iface.name, lana.iface.Primary().address,
                            lana.iface.Primary().BroadcastTarget(), lana.iface.loopback});
        }
    }
    return list;
}

}  // namespace platform::netbios
