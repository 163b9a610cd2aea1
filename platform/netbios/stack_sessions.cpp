#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/netbios/ncb_dispatch.h"
#include "platform/netbios/stack_impl.h"
#include "platform/netbios/wire/session.h"

// Sessions: listens matched with session requests (or waiting ones queued for the next listen),
// calls, and the per-session commands, which run on the caller's thread.
namespace platform::netbios {
namespace {

bool CallerMatches(const NCB& listen, const NetbiosName& calling) {
    return listen.ncb_callname[0] == '*' ||
           std::memcmp(listen.ncb_callname, calling.data(), calling.size()) == 0;
}

}  // namespace

void Stack::Impl::CloseGracefully(UniqueFd fd) {
    if (!fd) {
        return;
    }
    ::shutdown(fd.get(), SHUT_WR);
    // Reading until the peer closes lets what we sent arrive instead of being cut by a reset.
    lingering_.Add(std::move(fd));
    Wake();
}

void Stack::Impl::Refuse(UniqueFd fd, std::uint8_t error) {
    if (!fd) {
        return;
    }
    const auto answer = wire::EncodeNegativeSessionResponse(error);
    [[maybe_unused]] auto n =
        ::send(fd.get(), answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    CloseGracefully(std::move(fd));
}

std::shared_ptr<Session> Stack::Impl::NewSession(UniqueFd fd, std::uint8_t lana, std::uint8_t lsn,
                                                 const NetbiosName& local,
                                                 const NetbiosName& remote,
                                                 std::uint32_t remote_address, bool listened) {
    Session::Limits limits{config_.session_idle, config_.max_session_message};
    if (listened && config_.conversation_limit.count() > 0) {
        limits.deadline = Clock::now() + config_.conversation_limit;
    }
    return std::make_shared<Session>(std::move(fd), lana, lsn, local, remote, remote_address,
                                     limits);
}

bool Stack::Impl::OfferToListen(Lana& lana, NameEntry& entry, UniqueFd& fd,
                                const NetbiosName& called, const NetbiosName& calling,
                                std::uint32_t remote_address, Completions& done) {
    std::size_t index = 0;
    while (index < entry.listens.size() && !CallerMatches(*entry.listens[index].ncb, calling)) {
        ++index;
    }
    if (index == entry.listens.size()) {
        return false;
    }
    // Numbers are handed out under mutex_ only, so the one found stays free until added.
    const std::uint8_t lsn = AllocateLsn(lana);
    if (lsn == 0) {
        Refuse(std::move(fd), wire::session_error::kInsufficientResources);
        return true;
    }
    const auto positive = wire::EncodePositiveSessionResponse();
    const int raw = fd.get();
    auto session =
        NewSession(std::move(fd), lana.number, lsn, called, calling, remote_address, true);
    if (::send(raw, positive.data(), positive.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(positive.size())) {
        return true;  // the caller is gone; the listen stays for the next one
    }
    sessions_.Put(std::move(session));
    NCB* ncb = entry.listens[index].ncb;
    ncb->ncb_lsn = lsn;
    ncb->ncb_num = entry.number;
    SetCallAddress(*ncb, remote_address);
    std::memcpy(ncb->ncb_callname, calling.data(), calling.size());
    CompleteListen(entry, index, NRC_GOODRET, done);
    return true;
}

void Stack::Impl::HandleSessionRequest(Incoming& in, const wire::SessionRequest& request,
                                       Completions& done) {
    UniqueFd fd = in.fd.Release();
    Lana* lana = request.scoped ? nullptr : LanaForAddress(in.local_address);
    NameEntry* entry = lana ? FindHeld(*lana, request.called) : nullptr;
    if (entry == nullptr) {
        Refuse(std::move(fd), wire::session_error::kCalledNotPresent);
        return;
    }
    if (OfferToListen(*lana, *entry, fd, request.called, request.calling, in.remote_address,
                      done)) {
        return;
    }
    const auto waiting = std::count_if(queued_.begin(), queued_.end(), [&](const Queued& q) {
        return q.lana == lana->number && q.called == request.called;
    });
    if (static_cast<std::size_t>(waiting) >= config_.listen_queue &&
        !MakeRoomInQueue(lana->number, request.called, in.remote_address)) {
        Refuse(std::move(fd), wire::session_error::kInsufficientResources);
        return;
    }
    // The name's owner is busy with another session: wait for its next listen. Only a hang-up
    // matters meanwhile; bytes sent early stay for the session.
    WatchedFd watched(std::move(fd));
    if (!watched.Watch(connections_.get(), EPOLLRDHUP, in.id)) {
        Refuse(watched.Release(), wire::session_error::kInsufficientResources);
        return;
    }
    queued_.push_back({in.id, std::move(watched), lana->number, request.called, request.calling,
                       in.remote_address, Clock::now() + config_.listen_wait});
}

bool Stack::Impl::MakeRoomInQueue(std::uint8_t lana, const NetbiosName& called,
                                  std::uint32_t remote) {
    std::map<std::uint32_t, std::size_t> held;
    for (const auto& q : queued_) {
        if (q.lana == lana && q.called == called) {
            ++held[q.remote_address];
        }
    }
    auto most = std::max_element(held.begin(), held.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most == held.end() || most->second <= held[remote]) {
        return false;
    }
    // Its newest: the ones that waited longest are nearest to being served.
    auto it = std::find_if(queued_.rbegin(), queued_.rend(), [&](const Queued& q) {
        return q.lana == lana && q.called == called && q.remote_address == most->first;
    });
    Refuse(it->fd.Release(), wire::session_error::kInsufficientResources);
    queued_.erase(std::next(it).base());
    return true;
}

std::uint8_t Stack::Impl::Listen(NCB* ncb, bool async) {
    auto fail = [&](std::uint8_t code) {
        if (async) {
            Finish(ncb, code);  // the owner may wait on the event whatever we return
            return code;
        }
        return SetResult(ncb, code);
    };
    if (!EnsurePorts(false, true, false)) {
        return fail(NRC_NORESOURCES);
    }
    const NetbiosName name = FieldName(ncb->ncb_name);
    Completions done;
    Lock lock(mutex_);
    Lana* lana = FindLana(ncb->ncb_lana_num);
    if (lana == nullptr) {
        lock.unlock();
        return fail(NRC_BRIDGE);
    }
    auto it = lana->names.find(name);
    if (it == lana->names.end() || it->second.state == NameEntry::State::Registering) {
        lock.unlock();
        return fail(NRC_NOWILD);
    }
    if (it->second.state == NameEntry::State::Conflict) {
        lock.unlock();
        return fail(NRC_INUSE);
    }
    NameEntry& entry = it->second;
    auto sync = async ? nullptr : std::make_shared<SyncListen>();
    SetResult(ncb, NRC_PENDING);
    entry.listens.push_back({ncb, sync});
    ServeQueued(*lana, entry, name, done);
    if (sync) {
        // Completed by a session, by the name's deletion or by the stack stopping.
        changed_.wait(lock, [&] { return sync->done; });
        const std::uint8_t code = ncb->ncb_retcode;
        lock.unlock();
        FinishAll(done);
        return code;
    }
    lock.unlock();
    FinishAll(done);
    return NRC_PENDING;
}

void Stack::Impl::ServeQueued(Lana& lana, NameEntry& entry, const NetbiosName& name,
                              Completions& done) {
    // Requests that arrived while no listen was pending go first, in their order, except that
    // addresses whose last session overran its limit wait until the others are served.
    const auto now = Clock::now();
    auto overran = [&](std::uint32_t address) {
        auto o = overran_.find(address);
        return o != overran_.end() && o->second > now;
    };
    while (!entry.listens.empty()) {
        auto next = queued_.end();
        for (auto q = queued_.begin(); q != queued_.end(); ++q) {
            if (q->lana == lana.number && q->called == name &&
                std::any_of(
                    entry.listens.begin(), entry.listens.end(),
                    [&](const PendingListen& p) { return CallerMatches(*p.ncb, q->calling); }) &&
                (next == queued_.end() ||
                 (overran(next->remote_address) && !overran(q->remote_address)))) {
                next = q;
            }
        }
        if (next == queued_.end()) {
            break;
        }
        UniqueFd fd = next->fd.Release();
        const NetbiosName calling = next->calling;
        const std::uint32_t remote = next->remote_address;
        queued_.erase(next);
        OfferToListen(lana, entry, fd, name, calling, remote, done);
    }
}

std::uint8_t Stack::Impl::Call(NCB* ncb) {
    const NetbiosName local = FieldName(ncb->ncb_name);
    const NetbiosName remote = FieldName(ncb->ncb_callname);
    const std::uint8_t lana_number = ncb->ncb_lana_num;
    if (remote[0] == '*' || remote[0] == 0) {
        return NRC_NOWILD;
    }
    Lock lock(mutex_);
    Lana* lana = FindLana(lana_number);
    if (lana == nullptr) {
        return NRC_BRIDGE;
    }
    if (FindHeld(*lana, local) == nullptr) {
        return NRC_NOWILD;
    }
    std::uint32_t address = CallAddress(*ncb);
    if (address == 0) {
        const auto target = Resolve(lock, lana_number, remote);
        address = target ? target->address : 0;
    }
    lock.unlock();
    SetCallAddress(*ncb, address);
    if (address == 0) {
        return NRC_NOCALL;
    }
    UniqueFd fd;
    if (const std::uint8_t code = RequestSession(fd, address, local, remote); code != NRC_GOODRET) {
        return code;
    }
    SetNoDelay(fd.get());
    lock.lock();
    lana = FindLana(lana_number);
    const std::uint8_t lsn = lana ? AllocateLsn(*lana) : 0;
    if (lsn == 0) {
        return lana ? NRC_LOCTFUL : NRC_BRIDGE;
    }
    sessions_.Put(NewSession(std::move(fd), lana_number, lsn, local, remote, address, false));
    ncb->ncb_lsn = lsn;
    return NRC_GOODRET;
}

std::uint8_t Stack::Impl::RequestSession(UniqueFd& fd, std::uint32_t& address,
                                         const NetbiosName& local, const NetbiosName& remote) {
    std::uint16_t port = config_.session_port;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!RunOnStackThread([&] { fd = NewTcpSocket(); }) || !fd) {
            return NRC_NORESOURCES;
        }
        const auto deadline = Clock::now() + kCallTimeout;
        const auto request = wire::EncodeSessionRequest(remote, local);
        std::array<std::uint8_t, 4> header{};
        if (!Connect(fd.get(), address, port, deadline) || !SendAll(fd.get(), request, deadline) ||
            !ReceiveExactly(fd.get(), header, deadline)) {
            return NRC_NOCALL;
        }
        const auto h = *wire::DecodeSessionHeader(header);
        std::array<std::uint8_t, 4 + 6> packet{};
        std::copy(header.begin(), header.end(), packet.begin());
        if (h.length > 6 ||
            !ReceiveExactly(fd.get(), std::span(packet).subspan(4, h.length), deadline)) {
            return NRC_NOCALL;
        }
        const auto answer = wire::DecodeSessionAnswer(std::span(packet).first(4 + h.length));
        if (!answer) {
            return NRC_NOCALL;
        }
        if (answer->kind == wire::SessionAnswer::Kind::Positive) {
            break;
        }
        if (answer->kind == wire::SessionAnswer::Kind::Negative || attempt == 1) {
            return answer->error == wire::session_error::kInsufficientResources ? NRC_REMTFUL
                                                                                : NRC_NOCALL;
        }
        address = answer->address;  // retarget: once
        port = answer->port;
    }
    return NRC_GOODRET;
}

std::uint8_t Stack::Impl::Receive(NCB* ncb) {
    if (!lana_present_[ncb->ncb_lana_num]) {
        return NRC_BRIDGE;
    }
    return ReceiveOn(sessions_.Find(ncb->ncb_lana_num, ncb->ncb_lsn), ncb);
}

std::uint8_t Stack::Impl::Send(NCB* ncb) {
    if (!lana_present_[ncb->ncb_lana_num]) {
        return NRC_BRIDGE;
    }
    return SendOn(sessions_.Find(ncb->ncb_lana_num, ncb->ncb_lsn), ncb);
}

std::uint8_t Stack::Impl::Hangup(NCB* ncb) {
    if (!lana_present_[ncb->ncb_lana_num]) {
        return NRC_BRIDGE;
    }
    // Sessions still sending are read to their end by the stack's thread before the close.
    return HangUpIn(sessions_, ncb, [this](UniqueFd fd) {
        std::lock_guard lock(mutex_);
        CloseGracefully(std::move(fd));
    });
}

}  // namespace platform::netbios
