#include <algorithm>

#include "tools/netbiosd/server/server.h"

// Who may be served: programs are counted by person. An account's programs count against that
// account; uids without an account (subordinate uids, other namespaces) share one small pool, so
// no number of them takes the room of real accounts; an account with hardly any program yet, root
// among them, still gets in when the others have filled the rest.
namespace platform::netbios::service {

bool Server::Admits(Kind kind, uid_t uid, std::uint64_t except) const {
    std::size_t same_uid = 0;
    std::size_t of_kind = 0;
    for (const auto& [id, c] : clients_) {
        if (id == except || c->kind != kind) {
            continue;
        }
        ++of_kind;
        same_uid += c->uid == uid ? 1 : 0;
    }
    const Limits& l = options_.limits;
    switch (kind) {
        case Kind::Unknown:
            return same_uid < l.unknown_per_uid && of_kind < l.unknown;
        case Kind::Pool:
            return of_kind < l.pool;
        case Kind::Account:
            return same_uid < l.clients_per_user &&
                   (of_kind < l.clients ||
                    (same_uid < l.guaranteed && of_kind < l.clients + l.reserve));
    }
    return false;
}

void Server::Classify(std::uint64_t id, const std::optional<Account>& account) {
    Client* c = Find(id);
    if (c == nullptr) {
        return;
    }
    const Kind kind = account || c->uid == 0 ? Kind::Account : Kind::Pool;
    if (!Admits(kind, c->uid, id)) {
        LogRefusal(c->uid, "refused a program (pid " + std::to_string(c->pid) + ", uid " +
                               std::to_string(c->uid) + "): too many programs" +
                               (kind == Kind::Pool ? " of uids without an account" : ""));
        CutOff(id, {});
        return;
    }
    c->kind = kind;
    c->policy.emplace(c->uid, options_.computer_name, account);
}

void Server::LogRefusal(uid_t uid, const std::string& line) {
    if (auto held_back = refusals_.Allow(uid, LogLimiter::Clock::now())) {
        Log(line + (*held_back ? " (" + std::to_string(*held_back) + " like it held back)" : ""));
    }
}

}  // namespace platform::netbios::service
