#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "tools/netbiosd/server/server.h"

// What a program sends: requests read and told apart, answers, and the work that waits on the
// network, run on a worker within the program's bound.
namespace platform::netbios::service {
namespace {

constexpr int kRequestsPerTurn = 16;

}  // namespace

Server::ReadResult Server::ReadRequests(Client& client) {
    // What has arrived, up to a turn's worth, in one call: a program that waits for each answer
    // has one request there, and a second read would only find none.
    std::array<std::array<std::uint8_t, kMaxMessageSize + 1>, kRequestsPerTurn> buffers;
    std::array<iovec, kRequestsPerTurn> iov{};
    std::array<mmsghdr, kRequestsPerTurn> msgs{};
    for (int i = 0; i < kRequestsPerTurn; ++i) {
        iov[i] = {buffers[i].data(), buffers[i].size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int n;
    do {
        n = ::recvmmsg(client.channel->fd(), msgs.data(), kRequestsPerTurn, MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::Read : ReadResult::Gone;
    }
    for (int i = 0; i < n && !client.channel->Broken(); ++i) {
        const msghdr& msg = msgs[i].msg_hdr;
        if (msgs[i].msg_len == 0) {
            return ReadResult::Gone;
        }
        // Descriptors sent along are refused (and closed by the system): nothing is taken here.
        if ((msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
            return ReadResult::Garbage;
        }
        auto request = DecodeRequest({buffers[i].data(), msgs[i].msg_len});
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

}  // namespace platform::netbios::service
