#include <thread>

#include "platform/netbios/ncb_dispatch.h"
#include "tools/netbiosd/server/pending_listen.h"
#include "tools/netbiosd/server/server.h"

// Listens and calls carried out on the stack for a program; the session goes to the program.
namespace platform::netbios::service {

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
        const wire::NetbiosName caller = FieldName(ncb->ncb_callname);
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
        reply.callname = FieldName(ncb->ncb_callname);
        reply.address = CallAddress(*ncb);
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

}  // namespace platform::netbios::service
