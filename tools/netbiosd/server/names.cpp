#include <algorithm>

#include "tools/netbiosd/server/pending_listen.h"
#include "tools/netbiosd/server/server.h"

// Names a program adds and deletes on the stack, each its own, and the adapters' state.
namespace platform::netbios::service {

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

void Server::RefuseName(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    const std::string why = client.policy->Why(f.name);
    if (client.refused.size() < 8 &&
        std::find(client.refused.begin(), client.refused.end(), f.name) == client.refused.end()) {
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
}

void Server::AddName(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    if (!client.policy->MayAdd(f.name)) {
        RefuseName(client, request);
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
            NameAdded(id, key, token, request_id, code, num);
        });
    });
}

void Server::NameAdded(std::uint64_t id, const NameKey& key, std::uint64_t token,
                       std::uint32_t request_id, std::uint8_t code, std::uint8_t num) {
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

}  // namespace platform::netbios::service
