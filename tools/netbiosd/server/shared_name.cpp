#include <algorithm>
#include <set>

#include "platform/netbios/ncb_dispatch.h"
#include "tools/netbiosd/server/pending_listen.h"
#include "tools/netbiosd/server/server.h"

// The computer's messenger name, which every user's program may want: the service registers it
// once, for as long as any program holds it, and carries each caller's session on for every
// program that listens on it.
namespace platform::netbios::service {
namespace {

using Clock = std::chrono::steady_clock;

// A caller is taken once every program that listens on the name listens again, or after this
// long: a program that is slow to listen again misses a caller rather than holding it up.
constexpr std::chrono::milliseconds kListenAgainWait{1000};
// What waits for one program in a relay beyond its stream's own buffer.
constexpr std::size_t kRelayWaiting = 64 * 1024;

}  // namespace

bool Server::IsShared(const wire::NetbiosName& name) const {
    return !options_.computer_name.empty() && name == shared_name_;
}

void Server::AddShared(Client& client, const Request& request) {
    const CommandFields& f = request.ncb;
    const NameKey key{f.lana, f.name};
    Shared& entry = shared_[key];
    const bool adding = std::any_of(entry.adding.begin(), entry.adding.end(),
                                    [&](const auto& a) { return a.first == client.id; });
    if (entry.holders.contains(client.id) || adding) {
        Answer(client, request.id, NRC_DUPNAME);
        return;
    }
    if (entry.held) {
        entry.holders.insert(client.id);
        Reply reply;
        reply.id = request.id;
        reply.num = entry.num;
        Answer(client.id, reply);
        return;
    }
    entry.adding.emplace_back(client.id, request.id);
    if (entry.token != 0) {
        return;  // answered with the registration under way
    }
    const std::uint64_t token = next_token_++;
    entry.token = token;
    const std::uint64_t id = client.id;
    RunForClient(client, [this, id, key, token, f] {
        NCB ncb = CommandFrom(f, NCBADDNAME);
        const std::uint8_t code = stack_.Submit(&ncb);
        const std::uint8_t num = ncb.ncb_num;
        Post([this, id, key, token, code, num] {
            FinishRunning(id);
            auto it = shared_.find(key);
            if (it == shared_.end() || it->second.token != token) {
                if (code == NRC_GOODRET) {
                    DeleteFromStack(key.first, key.second);  // nobody wants it any more
                }
                return;
            }
            Shared& e = it->second;
            const auto adding = std::exchange(e.adding, {});
            if (code != NRC_GOODRET) {
                shared_.erase(it);
            } else {
                e.held = true;
                e.num = num;
            }
            for (const auto& [client, request_id] : adding) {
                Reply reply;
                reply.id = request_id;
                reply.retcode = code;
                if (code == NRC_GOODRET && Find(client) != nullptr) {
                    e.holders.insert(client);
                    reply.num = num;
                }
                Answer(client, reply);
            }
        });
    });
}

std::uint8_t Server::DeleteShared(Client& client, const NameKey& key) {
    auto it = shared_.find(key);
    if (it == shared_.end()) {
        return NRC_NOWILD;
    }
    Shared& e = it->second;
    const bool adding = std::any_of(e.adding.begin(), e.adding.end(),
                                    [&](const auto& a) { return a.first == client.id; });
    if (!e.holders.erase(client.id) && !adding) {
        return NRC_NOWILD;
    }
    e.listened.erase(client.id);
    for (auto* list : {&e.listens, &e.adding}) {
        for (auto l = list->begin(); l != list->end();) {
            if (l->first == client.id) {
                Answer(client, l->second, NRC_NAMERR);
                l = list->erase(l);
            } else {
                ++l;
            }
        }
    }
    if (e.holders.empty() && e.adding.empty()) {
        DropShared(key, NRC_NAMERR);
    }
    return NRC_GOODRET;
}

void Server::DropShared(const NameKey& key, std::uint8_t code) {
    auto it = shared_.find(key);
    if (it == shared_.end()) {
        return;
    }
    Shared e = std::move(it->second);
    shared_.erase(it);
    for (const auto* list : {&e.listens, &e.adding}) {
        for (const auto& [client, request_id] : *list) {
            Reply reply;
            reply.id = request_id;
            reply.retcode = code;
            Answer(client, reply);
        }
    }
    // The service's own listen ends with the name; its completion finds no entry.
    DeleteFromStack(key.first, key.second);
}

void Server::ListenShared(Client& client, const Request& request) {
    const NameKey key{request.ncb.lana, request.ncb.name};
    auto it = shared_.find(key);
    if (it == shared_.end() || !it->second.held || !it->second.holders.contains(client.id)) {
        Answer(client, request.id, NRC_NOWILD);
        return;
    }
    Shared& e = it->second;
    e.listens.emplace_back(client.id, request.id);
    e.listened.insert(client.id);
    if (e.ready_by == Clock::time_point{}) {
        e.ready_by = Clock::now() + kListenAgainWait;
    }
    ListenOnStack(key);
}

std::optional<Clock::time_point> Server::NextSharedDeadline() const {
    std::optional<Clock::time_point> next;
    if (relays_.size() >= options_.limits.relays) {
        return next;  // a relay that ends comes through its own descriptors first
    }
    for (const auto& [key, e] : shared_) {
        if (e.stack_listen == nullptr && !e.listens.empty() && e.ready_by != Clock::time_point{}) {
            next = next ? std::min(*next, e.ready_by) : e.ready_by;
        }
    }
    return next;
}

void Server::ListenOnStack(const NameKey& key) {
    auto it = shared_.find(key);
    if (it == shared_.end()) {
        return;
    }
    Shared& e = it->second;
    if (!e.held || e.stack_listen != nullptr || e.listens.empty() ||
        relays_.size() >= options_.limits.relays) {
        return;
    }
    const bool all_ready = std::all_of(e.listened.begin(), e.listened.end(), [&](auto id) {
        return std::any_of(e.listens.begin(), e.listens.end(),
                           [&](const auto& l) { return l.first == id; });
    });
    if (!all_ready && Clock::now() < e.ready_by) {
        return;
    }
    e.ready_by = {};
    auto listen = std::make_unique<PendingListen>();
    listen->ncb = Command(NCBLISTEN | ASYNCH, key.first, key.second);
    listen->ncb.ncb_callname[0] = '*';
    listen->ncb.ncb_post = ListenPosted;
    listen->server = this;
    listen->shared = true;
    PendingListen* raw = listen.get();
    listens_[raw] = {std::move(listen), nullptr};
    e.stack_listen = raw;
    stack_.Submit(&raw->ncb);
}

void Server::SharedListenDone(PendingListen* listen, std::uint8_t code, UniqueFd session,
                              const wire::NetbiosName& caller, std::uint8_t num) {
    while (!listen->finished) {
        std::this_thread::yield();
    }
    const NameKey key{listen->ncb.ncb_lana_num, FieldName(listen->ncb.ncb_name)};
    auto node = listens_.extract(listen);
    auto it = shared_.find(key);
    if (it == shared_.end() || it->second.stack_listen != listen) {
        return;  // the name went meanwhile; a caller that came is closed
    }
    Shared& e = it->second;
    e.stack_listen = nullptr;
    if (code != NRC_GOODRET) {
        DropShared(key, code);  // lost on the network, or the adapter went
        return;
    }
    if (!session) {
        return;  // the caller went before its session was taken: wait for the next
    }
    auto relay = std::make_unique<Relay>(std::move(session), options_.sessions.max_message,
                                         kRelayWaiting, options_.sessions.idle);
    // One stream a program (a second listen of it waits for the next caller: no program gets a
    // message twice), in the order they listened.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> served;
    std::set<std::uint64_t> taken;
    std::erase_if(e.listens, [&](const auto& l) {
        if (served.size() >= options_.limits.programs_per_relay || taken.contains(l.first)) {
            return false;
        }
        taken.insert(l.first);
        served.push_back(l);
        return true;
    });
    for (const auto& [client, request_id] : served) {
        Reply reply = SessionReply(request_id, 1);
        reply.num = num;
        reply.callname = caller;
        UniqueFd end = Find(client) != nullptr ? relay->AddProgram() : UniqueFd();
        if (!end) {
            reply.retcode = NRC_NORESOURCES;
        }
        Answer(client, reply, std::move(end));
    }
    if (relay->Programs() > 0) {
        relays_.push_back(std::move(relay));
    }
}

}  // namespace platform::netbios::service
