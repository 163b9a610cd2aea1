#include "platform/netbios/service/client.h"

#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/netbios/machine_service.h"

namespace platform::netbios::service {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxLingering = 256;

wire::NetbiosName FieldName(const std::uint8_t (&field)[NCBNAMSZ]) {
    wire::NetbiosName name;
    std::memcpy(name.data(), field, name.size());
    return name;
}

CommandFields FieldsOf(const NCB& ncb) {
    CommandFields f;
    f.command = ncb.ncb_command;
    f.lana = ncb.ncb_lana_num;
    f.lsn = ncb.ncb_lsn;
    f.num = ncb.ncb_num;
    f.rto = ncb.ncb_rto;
    f.sto = ncb.ncb_sto;
    f.length = ncb.ncb_length;
    f.name = FieldName(ncb.ncb_name);
    f.callname = FieldName(ncb.ncb_callname);
    if ((ncb.ncb_command & static_cast<std::uint8_t>(~ASYNCH)) == NCBCALL) {
        f.address = CallAddress(ncb);
    }
    return f;
}

// Completes an asynchronous command as the stack does: output fields, post routine, event.
void Finish(NCB* ncb, std::uint8_t code) {
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    auto* post = ncb->ncb_post;
    auto* event = ncb->ncb_event;
    if (post != nullptr) {
        post(ncb);
    }
    if (event != nullptr) {
        event->Set();
    }
}

}  // namespace

struct ServiceClient::Connection {
    UniqueFd fd;
    std::uint64_t generation = 0;
};

struct ServiceClient::Waiter {
    NCB* ncb = nullptr;  // none for a mailslot
    std::uint8_t command = 0;
    bool async = false;  // the control block is completed here, not by the caller
    std::uint64_t generation = 0;
    bool done = false;
    std::uint8_t code = NRC_PENDING;
    UniqueFd handed;  // a mailslot's read end
};

// Keeps a mailslot of the service's for this program, as long as the connection it came over.
class ServiceClient::MailslotLease : public platform::mailslot::Lease {
  public:
    MailslotLease(std::weak_ptr<ServiceClient> client, std::uint64_t generation, std::string name)
        : client_(std::move(client)), generation_(generation), name_(std::move(name)) {}
    ~MailslotLease() override {
        if (auto c = client_.lock()) {
            c->CloseMailslot(generation_, name_);
        }
    }
    bool Live() const override {
        auto c = client_.lock();
        return c && c->live_generation_.load() == generation_;
    }
    std::uint64_t generation() const { return generation_; }

  private:
    std::weak_ptr<ServiceClient> client_;
    std::uint64_t generation_;
    std::string name_;
};

ServiceClient::ServiceClient(std::string socket_path) : path_(std::move(socket_path)) {
    reader_ = std::thread([this] { Run(); });
}

ServiceClient::~ServiceClient() {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        connection = connection_;
    }
    if (connection) {
        Break(connection);
    }
    wake_.Set();
    reader_.join();
    sessions_.Abort(std::nullopt, nullptr, false);
}

std::uint8_t ServiceClient::Submit(NCB* ncb) {
    if (ncb == nullptr) {
        return NRC_ILLCMD;
    }
    const std::uint8_t command = ncb->ncb_command & static_cast<std::uint8_t>(~ASYNCH);
    const bool async = (ncb->ncb_command & ASYNCH) != 0;
    auto ask = [&](bool completes_itself) {
        auto waiter = std::make_shared<Waiter>();
        waiter->ncb = ncb;
        waiter->command = command;
        waiter->async = completes_itself;
        Request request;
        request.ncb = FieldsOf(*ncb);
        return Ask(request, waiter);
    };
    if (command == NCBLISTEN) {
        const std::uint8_t code = ask(async);
        if (!async) {
            ncb->ncb_retcode = code;
            ncb->ncb_cmd_cplt = code;
        }
        return code;
    }
    if (async) {
        ncb->ncb_retcode = NRC_PENDING;
        ncb->ncb_cmd_cplt = NRC_PENDING;
    }
    std::uint8_t code = NRC_ILLCMD;
    switch (command) {
        case NCBRECV:
            code = Receive(ncb);
            break;
        case NCBSEND:
            code = Send(ncb);
            break;
        case NCBHANGUP:
            code = Hangup(ncb);
            break;
        case NCBDELNAME:
            code = ask(false);
            if (code == NRC_GOODRET) {
                const wire::NetbiosName name = FieldName(ncb->ncb_name);
                sessions_.Abort(ncb->ncb_lana_num, &name, false);
            }
            break;
        case NCBRESET:
            code = ask(false);
            if (code == NRC_GOODRET) {
                sessions_.Abort(ncb->ncb_lana_num, nullptr, true);
                if (ncb->ncb_lsn == 0) {
                    std::lock_guard lock(lanas_mutex_);
                    const std::uint8_t room = ncb->ncb_callname[0];
                    lanas_[ncb->ncb_lana_num].max_sessions =
                        room ? std::min<std::size_t>(room, 254) : LanaSessions{}.max_sessions;
                }
            }
            break;
        case NCBADDNAME:
        case NCBENUM:
        case NCBCALL:
            code = ask(false);
            break;
        default:
            break;
    }
    if (async) {
        Finish(ncb, code);
        return NRC_PENDING;
    }
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    return code;
}

std::optional<platform::mailslot::Mailslot> ServiceClient::OpenMailslot(
    std::string_view name, std::size_t max_message_size) {
    if (name.empty() || name.size() > 255) {
        return std::nullopt;
    }
    Request request;
    request.kind = Request::Kind::OpenMailslot;
    request.mailslot = std::string(name);
    request.max_size = static_cast<std::uint16_t>(std::min<std::size_t>(max_message_size, 65535));
    auto waiter = std::make_shared<Waiter>();
    if (Ask(request, waiter) != NRC_GOODRET || !waiter->handed) {
        return std::nullopt;
    }
    auto lease = std::make_shared<MailslotLease>(weak_from_this(), waiter->generation,
                                                 platform::mailslot::CanonicalName(name));
    auto mailslot =
        platform::mailslot::Mailslot::Adopt(waiter->handed.release(), max_message_size, lease);
    std::lock_guard lock(mutex_);
    std::erase_if(leases_, [](const auto& l) { return l.expired(); });
    leases_.push_back(lease);
    if (live_generation_.load() != waiter->generation) {
        lease->WakeReader();  // its connection ended already
    }
    return mailslot;
}

bool ServiceClient::WriteMailslot(std::uint8_t lana, std::string_view computer_or_star,
                                  std::string_view mailslot, std::span<const std::uint8_t> data) {
    if (computer_or_star.empty() || computer_or_star.size() > 15 || mailslot.empty() ||
        mailslot.size() > 255 || data.size() > kMaxMailslotData) {
        return false;
    }
    Request request;
    request.kind = Request::Kind::WriteMailslot;
    request.lana = lana;
    request.computer = std::string(computer_or_star);
    request.mailslot = std::string(mailslot);
    request.data.assign(data.begin(), data.end());
    return Ask(request, std::make_shared<Waiter>()) == NRC_GOODRET;
}

std::shared_ptr<ServiceClient::Connection> ServiceClient::Connect(Lock&) {
    if (connection_ || stopping_) {
        return connection_;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // What the program tells its user follows whether the service answers.
    auto reachable = [this](bool now) {
        if (reachable_.exchange(now) != now) {
            ReceptionChanged().Set();
        }
    };
    if (!fd || path_.size() >= sizeof address.sun_path) {
        reachable(false);
        return nullptr;
    }
    std::memcpy(address.sun_path, path_.data(), path_.size());
    // A service that takes nothing for this long (also while connecting) is as good as gone.
    timeval bound{5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        reachable(false);
        return nullptr;
    }
    reachable(true);
    connection_ = std::make_shared<Connection>(Connection{std::move(fd), next_generation_++});
    live_generation_ = connection_->generation;
    wake_.Set();  // the reader takes up the new connection
    return connection_;
}

std::uint8_t ServiceClient::Ask(const Request& request, const std::shared_ptr<Waiter>& waiter) {
    NCB* ncb = waiter->ncb;
    auto fail = [&](std::uint8_t code) {
        if (waiter->async) {
            Finish(ncb, code);  // the owner may wait on the event whatever is returned
        }
        return code;
    };
    Lock lock(mutex_);
    auto connection = Connect(lock);
    if (!connection) {
        lock.unlock();
        return fail(NRC_SYSTEM);
    }
    const std::uint32_t id = next_id_++;
    Request numbered = request;
    numbered.id = id;
    const auto bytes = EncodeRequest(numbered);
    waiter->generation = connection->generation;
    if (waiter->async) {
        // Before the answer can possibly come.
        ncb->ncb_retcode = NRC_PENDING;
        ncb->ncb_cmd_cplt = NRC_PENDING;
    }
    waiting_[id] = waiter;
    ssize_t sent;
    do {
        sent = ::send(connection->fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(bytes.size())) {
        waiting_.erase(id);
        lock.unlock();
        Break(connection);
        return fail(NRC_SYSTEM);
    }
    if (waiter->async) {
        return NRC_PENDING;
    }
    auto answered = [&] { return waiter->done; };
    if (waiter->command == NCBLISTEN) {
        answered_.wait(lock, answered);  // a listen waits for its caller, however long
    } else if (!answered_.wait_for(lock, kAnswerTimeout, answered)) {
        waiting_.erase(id);
        lock.unlock();
        Break(connection);
        return NRC_SYSTEM;
    }
    return waiter->code;
}

void ServiceClient::Break(const std::shared_ptr<Connection>& connection) {
    std::vector<std::shared_ptr<Waiter>> to_finish;
    // Let go of after the lock: a lease's end takes it.
    std::vector<std::shared_ptr<MailslotLease>> woken;
    {
        std::lock_guard lock(mutex_);
        if (connection_ == connection) {
            connection_.reset();
            live_generation_ = 0;
        }
        for (const auto& l : leases_) {
            if (auto lease = l.lock(); lease && lease->generation() == connection->generation) {
                lease->WakeReader();
                woken.push_back(std::move(lease));
            }
        }
        // The reader sees the end and lets go of the socket.
        ::shutdown(connection->fd.get(), SHUT_RDWR);
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (it->second->generation != connection->generation) {
                ++it;
                continue;
            }
            auto& w = it->second;
            w->code = NRC_SYSTEM;
            w->done = true;
            if (w->async) {
                to_finish.push_back(w);
            }
            it = waiting_.erase(it);
        }
    }
    answered_.notify_all();
    wake_.Set();
    for (auto& w : to_finish) {
        Finish(w->ncb, NRC_SYSTEM);
    }
}

void ServiceClient::Complete(const std::shared_ptr<Waiter>& w, const Reply& reply, UniqueFd fd) {
    std::uint8_t code = reply.retcode;
    NCB* ncb = w->ncb;
    if (ncb != nullptr && w->command == NCBCALL) {
        SetCallAddress(*ncb, reply.address);  // also when refused: where the name was found
    }
    if (ncb == nullptr) {
        w->handed = std::move(fd);
    } else if (w->command == NCBADDNAME && code != NRC_GOODRET && !reply.data.empty()) {
        std::string refusal(reply.data.begin(), reply.data.end());
        if (refusal != refusal_) {
            refusal_ = std::move(refusal);
            ReceptionChanged().Set();  // whoever tells the user waits on this, not on a timer
        }
    } else if (code == NRC_GOODRET) {
        switch (w->command) {
            case NCBADDNAME:
                ncb->ncb_num = reply.num;
                break;
            case NCBENUM: {
                const std::size_t n = std::min<std::size_t>(reply.data.size(), ncb->ncb_length);
                if (n > 0 && ncb->ncb_buffer != nullptr) {
                    std::memcpy(ncb->ncb_buffer, reply.data.data(), n);
                    ncb->ncb_buffer[0] =
                        static_cast<std::uint8_t>(std::min<std::size_t>(reply.data[0], n - 1));
                }
                break;
            }
            case NCBLISTEN:
            case NCBCALL: {
                const wire::NetbiosName remote =
                    w->command == NCBLISTEN ? reply.callname : FieldName(ncb->ncb_callname);
                const bool handed = static_cast<bool>(fd);
                Session::Limits limits;
                if (reply.session_idle_ms != 0) {
                    limits.idle = std::chrono::milliseconds(reply.session_idle_ms);
                }
                if (reply.max_session_message != 0) {
                    limits.max_message = reply.max_session_message;
                }
                const std::uint8_t lsn = handed
                                             ? AddSession(ncb->ncb_lana_num, std::move(fd),
                                                          FieldName(ncb->ncb_name), remote, limits)
                                             : 0;
                if (lsn == 0) {
                    code = handed ? NRC_LOCTFUL : NRC_SABORT;
                    break;
                }
                ncb->ncb_lsn = lsn;
                if (w->command == NCBLISTEN) {
                    ncb->ncb_num = reply.num;
                    std::memcpy(ncb->ncb_callname, reply.callname.data(), reply.callname.size());
                }
                break;
            }
            default:
                break;
        }
    }
    w->code = code;
    w->done = true;
}

void ServiceClient::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-client");
    std::vector<std::pair<UniqueFd, Clock::time_point>> lingering;
    std::vector<pollfd> fds;
    for (;;) {
        std::shared_ptr<Connection> connection;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            connection = connection_;
            for (auto& l : lingering_) {
                lingering.push_back(std::move(l));
            }
            lingering_.clear();
        }
        const auto now = Clock::now();
        std::erase_if(lingering, [&](const auto& l) { return l.second <= now; });
        fds.assign({{wake_.fd(), POLLIN, 0}, {connection ? connection->fd.get() : -1, POLLIN, 0}});
        auto next = now + std::chrono::seconds(60);
        for (const auto& l : lingering) {
            fds.push_back({l.first.get(), POLLIN, 0});
            next = std::min(next, l.second);
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        if (::poll(fds.data(), fds.size(), lingering.empty() ? -1 : static_cast<int>(wait)) <= 0) {
            continue;
        }
        if (fds[0].revents) {
            wake_.TryConsume();
        }
        if (connection && fds[1].revents) {
            ReadReplies(connection);
        }
        for (std::size_t i = lingering.size(); i-- > 0;) {
            if (fds[2 + i].revents == 0) {
                continue;
            }
            std::uint8_t sink[4096];
            const ssize_t n = ::recv(lingering[i].first.get(), sink, sizeof sink, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                lingering.erase(lingering.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

void ServiceClient::ReadReplies(const std::shared_ptr<Connection>& connection) {
    for (;;) {
        std::uint8_t buffer[kMaxMessageSize + 1];
        iovec iov{buffer, sizeof buffer};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int) * 4)];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(connection->fd.get(), &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        std::vector<UniqueFd> fds;
        for (cmsghdr* c = n > 0 ? CMSG_FIRSTHDR(&msg) : nullptr; c != nullptr;
             c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int fd;
                    std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                    fds.emplace_back(fd);
                }
            }
        }
        const auto reply =
            n > 0 && (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0 && fds.size() <= 1
                ? DecodeReply({buffer, static_cast<std::size_t>(n)})
                : std::nullopt;
        if (!reply) {
            Break(connection);  // ended, or not the service we know
            return;
        }
        std::shared_ptr<Waiter> waiter;
        {
            std::lock_guard lock(mutex_);
            auto it = waiting_.find(reply->id);
            if (it != waiting_.end() && it->second->generation == connection->generation) {
                waiter = std::move(it->second);
                waiting_.erase(it);
                Complete(waiter, *reply, fds.empty() ? UniqueFd() : std::move(fds[0]));
            }
        }
        if (waiter) {
            answered_.notify_all();
            if (waiter->async) {
                Finish(waiter->ncb, waiter->code);
            }
        }
    }
}

std::string ServiceClient::Refusal() {
    std::lock_guard lock(mutex_);
    return refusal_;
}

void ServiceClient::CloseMailslot(std::uint64_t generation, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (!connection_ || connection_->generation != generation) {
        return;  // that connection's mailslots went with it
    }
    Request request;
    request.kind = Request::Kind::CloseMailslot;
    request.mailslot = name;
    const auto bytes = EncodeRequest(request);
    // No answer comes; should the service not take it now, it drops the mailslot with us.
    [[maybe_unused]] auto n =
        ::send(connection_->fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::uint8_t ServiceClient::AddSession(std::uint8_t lana, UniqueFd fd,
                                       const wire::NetbiosName& local,
                                       const wire::NetbiosName& remote, Session::Limits limits) {
    // Called with mutex_ held, by completions only: the number stays free until put.
    std::uint8_t lsn;
    {
        std::lock_guard lock(lanas_mutex_);
        LanaSessions& l = lanas_[lana];
        lsn = sessions_.FreeNumber(lana, l.next_lsn, l.max_sessions);
    }
    if (lsn == 0) {
        return 0;
    }
    // The service's stack made the socket and set it up (no delay) before handing it over.
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const std::uint32_t address =
        ::getpeername(fd.get(), reinterpret_cast<sockaddr*>(&peer), &length) == 0
            ? ntohl(peer.sin_addr.s_addr)
            : 0;
    sessions_.Put(
        std::make_shared<Session>(std::move(fd), lana, lsn, local, remote, address, limits));
    return lsn;
}

std::uint8_t ServiceClient::Receive(NCB* ncb) {
    auto session = FindSession(ncb);
    if (!session) {
        return NRC_SNUMOUT;
    }
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length > 0) {
        return NRC_BUFLEN;
    }
    std::size_t received = 0;
    const std::uint8_t code = session->Receive({ncb->ncb_buffer, ncb->ncb_length}, received);
    ncb->ncb_length = static_cast<std::uint16_t>(received);
    return code;
}

std::uint8_t ServiceClient::Send(NCB* ncb) {
    auto session = FindSession(ncb);
    if (!session) {
        return NRC_SNUMOUT;
    }
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length > 0) {
        return NRC_BUFLEN;
    }
    return session->Send({ncb->ncb_buffer, ncb->ncb_length});
}

std::uint8_t ServiceClient::Hangup(NCB* ncb) {
    const std::shared_ptr<Session> session = sessions_.Take(ncb->ncb_lana_num, ncb->ncb_lsn);
    if (!session) {
        return NRC_SNUMOUT;
    }
    if (UniqueFd fd = session->Hangup(); fd && MustLingerAfterHangup(fd.get())) {
        std::lock_guard lock(mutex_);
        if (lingering_.size() < kMaxLingering) {
            lingering_.emplace_back(std::move(fd), Clock::now() + kLingerTime);
            wake_.Set();
        }
    }
    return NRC_GOODRET;
}

}  // namespace platform::netbios::service
