#include "platform/netbios/stack.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/codepage/codepage.h"
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

void Stack::Impl::Finish(NCB* ncb, std::uint8_t code) {
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    auto* post = ncb->ncb_post;
    auto* event = ncb->ncb_event;
    if (post != nullptr) {
        post(ncb);
    }
    // Last: once the event is set the control block belongs to its owner again.
    if (event != nullptr) {
        event->Set();
    }
}

void Stack::Impl::FinishAll(Completions& done) {
    for (auto& c : done) {
        Finish(c.ncb, c.code);
    }
    done.clear();
}

std::uint8_t Stack::Impl::Submit(NCB* ncb) {
    if (ncb == nullptr) {
        return NRC_ILLCMD;
    }
    const std::uint8_t command = ncb->ncb_command & static_cast<std::uint8_t>(~ASYNCH);
    const bool async = (ncb->ncb_command & ASYNCH) != 0;
    if (command == NCBLISTEN) {
        return Listen(ncb, async);
    }
    if (async) {
        ncb->ncb_retcode = NRC_PENDING;
        ncb->ncb_cmd_cplt = NRC_PENDING;
    }
    std::uint8_t code = NRC_ILLCMD;
    switch (command) {
        case NCBADDNAME:
            code = AddName(ncb);
            break;
        case NCBDELNAME:
            code = DeleteName(ncb);
            break;
        case NCBRESET:
            code = Reset(ncb);
            break;
        case NCBENUM:
            code = Enumerate(ncb);
            break;
        case NCBCALL:
            code = Call(ncb);
            break;
        case NCBRECV:
            code = Receive(ncb);
            break;
        case NCBSEND:
            code = Send(ncb);
            break;
        case NCBHANGUP:
            code = Hangup(ncb);
            break;
        default:
            break;
    }
    if (async) {
        // Other commands run to their end on the caller's thread and then complete as an
        // asynchronous command does.
        Finish(ncb, code);
        return NRC_PENDING;
    }
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    return code;
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
