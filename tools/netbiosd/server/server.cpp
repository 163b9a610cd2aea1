#include "tools/netbiosd/server/server.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include "tools/netbiosd/server/pending_listen.h"

namespace platform::netbios::service {

namespace {

constexpr int kRequestsPerTurn = 16;
constexpr int kAcceptsPerTurn = 16;
constexpr std::chrono::milliseconds kAcceptPause{100};

}  // namespace

Server::Server(Stack& stack, UniqueFd listener, Options options)
    : stack_(stack),
      listener_(std::move(listener)),
      options_(std::move(options)),
      workers_(std::make_unique<WorkerPool>(options_.limits.workers)),
      routes_(options_.routes ? options_.routes : std::make_shared<DatagramRoutes>()) {
    if (!options_.computer_name.empty()) {
        shared_name_ = wire::MakeName(options_.computer_name, kMessengerSuffix);
    }
    ::fcntl(listener_.get(), F_SETFL, ::fcntl(listener_.get(), F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

Server::~Server() {
    {
        std::lock_guard lock(posted_mutex_);
        stopping_ = true;
    }
    wake_.Set();
    thread_.join();
    // The service's thread has ended: its state is this thread's now.
    while (!clients_.empty()) {
        CutOff(clients_.begin()->first, {});
    }
    // With every name gone every listen has completed, but the stack's thread may still be in
    // the completion routine of one.
    for (const auto& [listen, entry] : listens_) {
        while (!listen->finished) {
            std::this_thread::yield();
        }
    }
    // Work still running (an add aborted by the deletions above, a call) ends; what it posts
    // back is dropped.
    workers_.reset();
}

std::size_t Server::ClientCount() const {
    std::lock_guard lock(posted_mutex_);
    return client_count_;
}

void Server::Log(const std::string& line) const {
    if (options_.log) {
        options_.log(line);
    }
}

void Server::Post(std::function<void()> fn, bool wake) {
    {
        std::lock_guard lock(posted_mutex_);
        if (stopping_) {
            return;
        }
        posted_.push_back(std::move(fn));
    }
    if (wake) {
        wake_.Set();
    }
}

bool Server::RunPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard lock(posted_mutex_);
        if (stopping_) {
            return false;
        }
        work.swap(posted_);
    }
    for (auto& fn : work) {
        fn();
    }
    return true;
}

Server::Client* Server::Find(std::uint64_t id) {
    auto it = clients_.find(id);
    return it != clients_.end() && !it->second->channel->Broken() ? it->second.get() : nullptr;
}

void Server::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-serve");
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;
    for (;;) {
        if (!RunPosted()) {
            return;
        }
        std::vector<std::uint64_t> doomed;
        for (const auto& [id, c] : clients_) {
            if (c->channel->Broken()) {
                doomed.push_back(id);
            }
        }
        for (auto id : doomed) {
            CutOff(id, "it does not take its answers");
        }
        std::vector<NameKey> keys;
        for (const auto& [key, entry] : shared_) {
            keys.push_back(key);
        }
        for (const auto& key : keys) {
            ListenOnStack(key);
        }

        const bool accepting = std::chrono::steady_clock::now() >= accept_paused_until_;
        fds.assign({{wake_.fd(), POLLIN, 0},
                    {listener_.get(), static_cast<short>(accepting ? POLLIN : 0), 0}});
        ids.clear();
        for (const auto& [id, c] : clients_) {
            // Requests wait in the socket until the program's user is known.
            const short events = static_cast<short>((c->policy ? POLLIN : 0) |
                                                    (c->channel->Waiting() ? POLLOUT : 0));
            fds.push_back({c->channel->fd(), events, 0});
            ids.push_back(id);
        }
        const std::size_t relays_from = fds.size();
        const std::size_t relays = relays_.size();
        auto next = NextSharedDeadline();
        if (!accepting) {
            next = next ? std::min(*next, accept_paused_until_) : accept_paused_until_;
        }
        for (const auto& r : relays_) {
            r->Fill(fds);
            next = next ? std::min(*next, r->deadline()) : r->deadline();
        }
        int timeout = -1;
        if (next) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                *next - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            continue;
        }
        // Completions posted without a wake-up are settled before the requests that follow them.
        if (!RunPosted()) {
            return;
        }
        if (fds[0].revents) {
            wake_.TryConsume();
        }
        if (fds[1].revents) {
            Accept();
        }
        for (std::size_t i = 2; i < relays_from; ++i) {
            const short revents = fds[i].revents;
            Client* c = revents ? Find(ids[i - 2]) : nullptr;
            if (c == nullptr) {
                continue;
            }
            const ReadResult read = (revents & POLLIN) ? ReadRequests(*c) : ReadResult::Read;
            if (read == ReadResult::Garbage) {
                CutOff(ids[i - 2], "it sent what is not a request");
            } else if (read == ReadResult::Gone) {
                CutOff(ids[i - 2], {});
            } else if ((revents & (POLLERR | POLLHUP)) && !(revents & POLLIN)) {
                CutOff(ids[i - 2], {});  // gone
            } else if ((revents & POLLOUT) && !c->channel->Flush()) {
                CutOff(ids[i - 2], {});
            }
        }
        // Relays started meanwhile have no descriptors polled yet.
        const auto now = std::chrono::steady_clock::now();
        std::vector<bool> over(relays, false);
        for (std::size_t r = 0, at = relays_from; r < relays; ++r) {
            const std::size_t n = relays_[r]->Programs() + 1;
            over[r] = !relays_[r]->Handle(std::span(fds).subspan(at, n), now);
            at += n;
        }
        for (std::size_t r = relays; r-- > 0;) {
            if (over[r]) {
                relays_.erase(relays_.begin() + static_cast<std::ptrdiff_t>(r));
            }
        }
    }
}

void Server::Accept() {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the waiting connections wait rather than spin this thread.
                accept_paused_until_ = std::chrono::steady_clock::now() + kAcceptPause;
            }
            return;
        }
        ucred cred{};
        socklen_t size = sizeof cred;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0) {
            continue;
        }
        if (!Admits(Kind::Unknown, cred.uid)) {
            LogRefusal(cred.uid, "refused a program (pid " + std::to_string(cred.pid) + ", uid " +
                                     std::to_string(cred.uid) + "): too many programs");
            continue;
        }
        auto client = std::make_unique<Client>();
        client->id = next_client_++;
        client->channel = std::make_shared<Channel>(std::move(fd), options_.limits.replies);
        client->pid = cred.pid;
        client->uid = cred.uid;
        const std::uint64_t id = client->id;
        clients_[id] = std::move(client);
        {
            std::lock_guard lock(posted_mutex_);
            client_count_ = clients_.size();
        }
        // The user database may have to ask over the network: not on this thread.
        const uid_t uid = cred.uid;
        workers_->Post([this, id, uid] {
            auto account = AccountOf(uid);
            Post([this, id, account] { Classify(id, account); });
        });
    }
}

Server::ReadResult Server::ReadRequests(Client& client) {
    for (int i = 0; i < kRequestsPerTurn && !client.channel->Broken(); ++i) {
        std::uint8_t buffer[kMaxMessageSize + 1];
        iovec iov{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(client.channel->fd(), &msg, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::Read : ReadResult::Gone;
        }
        if (n == 0) {
            return ReadResult::Gone;
        }
        // Descriptors sent along are refused (and closed by the system): nothing is taken here.
        if ((msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
            return ReadResult::Garbage;
        }
        auto request = DecodeRequest({buffer, static_cast<std::size_t>(n)});
        if (!request) {
            return ReadResult::Garbage;
        }
        Handle(client, *request);
    }
    return ReadResult::Read;
}

void Server::CutOff(std::uint64_t id, const std::string& why) {
    auto it = clients_.find(id);
    if (it == clients_.end()) {
        return;
    }
    std::unique_ptr<Client> client = std::move(it->second);
    clients_.erase(it);
    client->channel->Close();
    {
        std::lock_guard lock(posted_mutex_);
        client_count_ = clients_.size();
    }
    if (!why.empty()) {
        LogRefusal(client->uid, "cut off a program (pid " + std::to_string(client->pid) + ", uid " +
                                    std::to_string(client->uid) + "): " + why);
    }
    routes_->Forget(id);
    std::vector<NameKey> unused;
    for (auto& [key, entry] : shared_) {
        entry.holders.erase(id);
        entry.listened.erase(id);
        std::erase_if(entry.listens, [&](const auto& l) { return l.first == id; });
        std::erase_if(entry.adding, [&](const auto& a) { return a.first == id; });
        if (entry.holders.empty() && entry.adding.empty()) {
            unused.push_back(key);
        }
    }
    for (const auto& key : unused) {
        DropShared(key, NRC_NAMERR);
    }
    // Its names go at once: their listens complete (and are dropped), an add under way ends.
    for (auto o = owners_.begin(); o != owners_.end();) {
        if (o->second.client == id) {
            routes_->Release(o->first.first, o->first.second);
            DeleteFromStack(o->first.first, o->first.second);
            o = owners_.erase(o);
        } else {
            ++o;
        }
    }
    // Its mailslots go with the leases; work it had waiting is dropped with it.
}

void Server::Answer(std::uint64_t id, const Reply& reply, UniqueFd fd) {
    auto it = clients_.find(id);
    if (it == clients_.end()) {
        return;
    }
    Client& c = *it->second;
    --c.pending;
    if (!c.channel->Send(EncodeReply(reply), std::move(fd))) {
        wake_.Set();  // cut off by the service's thread at its next turn
    }
}

void Server::Answer(Client& client, std::uint32_t id, std::uint8_t code) {
    Reply reply;
    reply.id = id;
    reply.retcode = code;
    Answer(client.id, reply);
}

Reply Server::SessionReply(std::uint32_t id, std::uint8_t lsn) const {
    Reply reply;
    reply.id = id;
    reply.lsn = lsn;
    reply.session_idle_ms = static_cast<std::uint32_t>(options_.sessions.idle.count());
    reply.max_session_message = static_cast<std::uint32_t>(options_.sessions.max_message);
    return reply;
}

void Server::Handle(Client& client, const Request& request) {
    if (request.kind == Request::Kind::CloseMailslot) {
        const std::string name = platform::mailslot::CanonicalName(request.mailslot);
        if (client.mailslots.erase(name) != 0) {
            routes_->Close(client.id, name);
        }
        return;
    }
    ++client.pending;
    if (client.pending > options_.limits.pending) {
        Answer(client, request.id, NRC_TOOMANY);
        return;
    }
    if (request.kind == Request::Kind::OpenMailslot) {
        OpenMailslot(client, request);
    } else if (request.kind == Request::Kind::WriteMailslot) {
        WriteMailslot(client, request);
    } else {
        HandleCommand(client, request);
    }
}

void Server::HandleCommand(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    switch (f.command & static_cast<std::uint8_t>(~ASYNCH)) {
        case NCBADDNAME:
            AddName(client, request);
            return;
        case NCBDELNAME:
            Answer(client, request.id, DeleteName(client, f.lana, f.name));
            return;
        case NCBRESET: {
            const auto adapters = stack_.Adapters();
            if (std::none_of(adapters.begin(), adapters.end(),
                             [&](const Stack::Adapter& a) { return a.lana == f.lana; })) {
                Answer(client, request.id, NRC_BRIDGE);
                return;
            }
            // Only this program's names: the others' stay.
            std::vector<wire::NetbiosName> names;
            for (const auto& [key, owner] : owners_) {
                if (key.first == f.lana && owner.client == client.id) {
                    names.push_back(key.second);
                }
            }
            for (const auto& name : names) {
                DeleteName(client, f.lana, name);
            }
            if (shared_.contains({f.lana, shared_name_})) {
                DeleteShared(client, {f.lana, shared_name_});
            }
            Answer(client, request.id, NRC_GOODRET);
            return;
        }
        case NCBENUM:
            Enumerate(client, request);
            return;
        case NCBLISTEN:
            Listen(client, request);
            return;
        case NCBCALL:
            Call(client, request);
            return;
        default:
            // Sessions are carried on by the program itself.
            Answer(client, request.id, NRC_ILLCMD);
            return;
    }
}

void Server::RunForClient(Client& client, std::function<void()> work) {
    if (client.running < options_.limits.running) {
        ++client.running;
        workers_->Post(std::move(work));
    } else {
        client.waiting.push_back(std::move(work));
    }
}

void Server::FinishRunning(std::uint64_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) {
        return;
    }
    Client& c = *it->second;
    --c.running;
    if (!c.waiting.empty() && c.running < options_.limits.running) {
        ++c.running;
        workers_->Post(std::move(c.waiting.front()));
        c.waiting.pop_front();
    }
}

void Server::DeleteFromStack(std::uint8_t lana, const wire::NetbiosName& name) {
    NCB ncb = Command(NCBDELNAME, lana, name);
    stack_.Submit(&ncb);
}

std::uint8_t Server::DeleteName(Client& client, std::uint8_t lana, const wire::NetbiosName& name) {
    if (IsShared(name)) {
        return DeleteShared(client, {lana, name});
    }
    auto it = owners_.find({lana, name});
    if (it == owners_.end() || it->second.client != client.id) {
        return NRC_NOWILD;  // as for a name not there at all
    }
    // An add under way ends with "name deleted"; one that had not begun yet is undone when it
    // comes back (its owner entry is gone).
    owners_.erase(it);
    routes_->Release(lana, name);
    DeleteFromStack(lana, name);
    return NRC_GOODRET;
}

void Server::AddName(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    if (!client.policy->MayAdd(f.name)) {
        const std::string why = client.policy->Why(f.name);
        if (client.refused.size() < 8 && std::find(client.refused.begin(), client.refused.end(),
                                                   f.name) == client.refused.end()) {
            client.refused.push_back(f.name);  // its port asks again every few seconds
            LogRefusal(client.uid, "program pid " + std::to_string(client.pid) + " (uid " +
                                       std::to_string(client.uid) + ") may not add " +
                                       EscapeForLog(wire::NameText(f.name)) +
                                       (why.empty() ? "" : ": " + EscapeForLog(why)));
        }
        Reply reply;
        reply.id = request.id;
        reply.retcode = NRC_ILLNN;
        // Told to the program's user: the reason its messages do not come.
        reply.data.assign(why.begin(), why.begin() + std::min<std::size_t>(why.size(), 255));
        Answer(client.id, reply);
        return;
    }
    if (IsShared(f.name)) {
        AddShared(client, request);
        return;
    }
    const NameKey key{f.lana, f.name};
    if (owners_.contains(key)) {
        Answer(client, request.id, NRC_DUPNAME);
        return;
    }
    const auto names = std::count_if(owners_.begin(), owners_.end(),
                                     [&](const auto& o) { return o.second.client == client.id; });
    if (static_cast<std::size_t>(names) >= options_.limits.names) {
        Answer(client, request.id, NRC_NAMTFUL);
        return;
    }
    const std::uint64_t token = next_token_++;
    owners_[key] = {client.id, false, token};
    const std::uint64_t id = client.id;
    RunForClient(client, [this, id, key, token, f, request_id = request.id] {
        NCB ncb = CommandFrom(f, NCBADDNAME);
        const std::uint8_t code = stack_.Submit(&ncb);
        const std::uint8_t num = ncb.ncb_num;
        Post([this, id, key, token, code, num, request_id] {
            FinishRunning(id);
            auto it = owners_.find(key);
            const bool ours = it != owners_.end() && it->second.token == token;
            Reply reply;
            reply.id = request_id;
            reply.retcode = code;
            if (code == NRC_GOODRET && ours && Find(id) != nullptr) {
                it->second.held = true;
                routes_->Hold(key.first, key.second, id);
                reply.num = num;
            } else {
                if (code == NRC_GOODRET) {
                    // Deleted while being added, or its program is gone.
                    DeleteFromStack(key.first, key.second);
                    reply.retcode = NRC_NAMERR;
                }
                if (ours) {
                    owners_.erase(it);
                }
            }
            Answer(id, reply);
        });
    });
}

void Server::Listen(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    if (IsShared(f.name)) {
        ListenShared(client, request);
        return;
    }
    auto owner = owners_.find({f.lana, f.name});
    if (owner == owners_.end() || owner->second.client != client.id || !owner->second.held) {
        Answer(client, request.id, NRC_NOWILD);
        return;
    }
    auto listen = std::make_unique<PendingListen>();
    listen->ncb = CommandFrom(f, NCBLISTEN | ASYNCH);
    listen->ncb.ncb_post = ListenPosted;
    listen->server = this;
    listen->channel = client.channel.get();
    listen->client = client.id;
    listen->id = request.id;
    PendingListen* raw = listen.get();
    listens_[raw] = {std::move(listen), client.channel};
    // Completes through ListenPosted, at once or when a caller comes.
    stack_.Submit(&raw->ncb);
}

void Server::ListenPosted(NCB* ncb) {
    auto* listen = reinterpret_cast<PendingListen*>(ncb);
    Server* server = listen->server;
    if (listen->shared) {
        UniqueFd session;
        if (ncb->ncb_retcode == NRC_GOODRET) {
            session.reset(server->stack_.DetachSession(ncb->ncb_lana_num, ncb->ncb_lsn));
        }
        auto fd = std::make_shared<UniqueFd>(std::move(session));
        wire::NetbiosName caller;
        std::memcpy(caller.data(), ncb->ncb_callname, caller.size());
        server->Post([server, listen, fd, caller, code = ncb->ncb_retcode, num = ncb->ncb_num] {
            server->SharedListenDone(listen, code, std::move(*fd), caller, num);
        });
        listen->finished = true;
        return;
    }
    Reply reply = server->SessionReply(listen->id, ncb->ncb_lsn);
    reply.retcode = ncb->ncb_retcode;
    UniqueFd session;
    if (reply.retcode == NRC_GOODRET) {
        session.reset(server->stack_.DetachSession(ncb->ncb_lana_num, ncb->ncb_lsn));
        if (!session) {
            reply.retcode = NRC_SABORT;
        }
        reply.num = ncb->ncb_num;
        std::memcpy(reply.callname.data(), ncb->ncb_callname, reply.callname.size());
    }
    // Straight to the program. What is left is bookkeeping on the service's thread, which need not
    // wake for it unless the program is to be cut off.
    const bool sent = listen->channel->Send(EncodeReply(reply), std::move(session));
    server->Post([server, listen] { server->ListenDone(listen); }, !sent);
    listen->finished = true;  // last: the service may be going away
}

void Server::ListenDone(PendingListen* listen) {
    while (!listen->finished) {
        std::this_thread::yield();  // its completion routine is about to let go of it
    }
    auto node = listens_.extract(listen);
    auto it = clients_.find(listen->client);
    if (it != clients_.end()) {
        --it->second->pending;
    }
}

void Server::Call(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    auto owner = owners_.find({f.lana, f.name});
    auto computer = shared_.find({f.lana, f.name});
    const Client* holder =
        owner != owners_.end() && owner->second.held ? Find(owner->second.client) : nullptr;
    // The computer's name is the service's own: any program may call from it once it is held.
    const bool may = IsShared(f.name)
                         ? computer != shared_.end() && computer->second.held &&
                               client.policy->MayCallFrom(f.name, client.uid)
                         : holder != nullptr && client.policy->MayCallFrom(f.name, holder->uid);
    if (!may) {
        Answer(client, request.id, NRC_NOWILD);
        return;
    }
    const std::uint64_t id = client.id;
    RunForClient(client, [this, id, f, request_id = request.id] {
        NCB ncb = CommandFrom(f, NCBCALL);
        const std::uint8_t code = stack_.Submit(&ncb);
        Reply reply = SessionReply(request_id, ncb.ncb_lsn);
        reply.retcode = code;
        reply.address = CallAddress(ncb);
        UniqueFd session;
        if (code == NRC_GOODRET) {
            session.reset(stack_.DetachSession(f.lana, ncb.ncb_lsn));
            reply.retcode = session ? NRC_GOODRET : NRC_SABORT;
        }
        auto shared = std::make_shared<UniqueFd>(std::move(session));
        Post([this, id, reply, shared] {
            FinishRunning(id);
            Answer(id, reply, std::move(*shared));
        });
    });
}

void Server::Enumerate(Client& client, const Request& request) {
    const std::uint64_t id = client.id;
    const std::uint16_t room = std::min<std::uint16_t>(request.ncb.length, 256);
    RunForClient(client, [this, id, room, request_id = request.id] {
        std::vector<std::uint8_t> list(room);
        NCB ncb = Command(NCBENUM, 0, {});
        ncb.ncb_buffer = list.data();
        ncb.ncb_length = room;
        Reply reply;
        reply.id = request_id;
        reply.retcode = stack_.Submit(&ncb);
        if (reply.retcode == NRC_GOODRET) {
            list.resize(1u + list[0]);
            reply.data = std::move(list);
        }
        Post([this, id, reply] {
            FinishRunning(id);
            Answer(id, reply);
        });
    });
}

void Server::OpenMailslot(Client& client, const Request& request) {
    const std::string name = platform::mailslot::CanonicalName(request.mailslot);
    if (client.mailslots.contains(name)) {
        Answer(client, request.id, NRC_DUPNAME);
        return;
    }
    if (client.mailslots.size() >= options_.limits.mailslots) {
        Answer(client, request.id, NRC_NORES);
        return;
    }
    // The program's own copy: every program that opens the mailslot gets what arrives for it.
    auto slot = platform::mailslot::Mailslot::CreateHere(DatagramRoutes::CopyName(name, client.id),
                                                         request.max_size);
    if (!slot) {
        Answer(client, request.id, NRC_NORES);
        return;
    }
    UniqueFd reader(::fcntl(slot->fd(), F_DUPFD_CLOEXEC, 0));
    if (!reader) {
        Answer(client, request.id, NRC_NORES);
        return;
    }
    client.mailslots[name] = slot->ReleaseLease();
    routes_->Open(client.id, name);
    Reply reply;
    reply.id = request.id;
    Answer(client.id, reply, std::move(reader));
}

void Server::WriteMailslot(Client& client, const Request& request) {
    // Any program may write, as any program on the platform may: the datagram names no one
    // here, and its size is bounded by the stack.
    const std::uint64_t id = client.id;
    RunForClient(client, [this, id, request] {
        const bool written =
            stack_.WriteMailslot(request.lana, request.computer, request.mailslot, request.data);
        Post([this, id, written, request_id = request.id] {
            FinishRunning(id);
            Reply reply;
            reply.id = request_id;
            reply.retcode = written ? NRC_GOODRET : NRC_NORESOURCES;
            Answer(id, reply);
        });
    });
}

}  // namespace platform::netbios::service
