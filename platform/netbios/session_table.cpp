#include "platform/netbios/session_table.h"

#include <algorithm>

#include "platform/netbios/ncb.h"

namespace platform::netbios {

std::uint8_t SessionTable::FreeNumber(std::uint8_t lana, std::uint8_t& next,
                                      std::size_t max) const {
    std::lock_guard lock(mutex_);
    const auto count = std::count_if(sessions_.begin(), sessions_.end(),
                                     [&](const auto& s) { return s.first.first == lana; });
    if (static_cast<std::size_t>(count) >= max) {
        return 0;
    }
    for (int i = 0; i < 254; ++i) {
        const std::uint8_t lsn = next;
        next = static_cast<std::uint8_t>(lsn % 254 + 1);
        if (!sessions_.contains({lana, lsn})) {
            return lsn;
        }
    }
    return 0;
}

void SessionTable::Put(std::shared_ptr<Session> session) {
    std::lock_guard lock(mutex_);
    sessions_[{session->lana(), session->lsn()}] = std::move(session);
}

std::shared_ptr<Session> SessionTable::Find(std::uint8_t lana, std::uint8_t lsn) const {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find({lana, lsn});
    return it != sessions_.end() ? it->second : nullptr;
}

std::shared_ptr<Session> SessionTable::Take(std::uint8_t lana, std::uint8_t lsn) {
    std::lock_guard lock(mutex_);
    auto it = sessions_.find({lana, lsn});
    if (it == sessions_.end()) {
        return nullptr;
    }
    auto session = std::move(it->second);
    sessions_.erase(it);
    return session;
}

std::vector<std::shared_ptr<Session>> SessionTable::TakeAll() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Session>> all;
    for (auto& [key, session] : sessions_) {
        all.push_back(std::move(session));
    }
    sessions_.clear();
    return all;
}

void SessionTable::Abort(std::optional<std::uint8_t> lana, const wire::NetbiosName* name,
                         bool remove) {
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& s = *it->second;
        if ((!lana || it->first.first == *lana) && (name == nullptr || s.local_name() == *name)) {
            s.Abort(NRC_SABORT);
            if (remove) {
                it = sessions_.erase(it);
                continue;
            }
        }
        ++it;
    }
}

void SessionTable::ForEach(const std::function<void(Session&)>& fn) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : sessions_) {
        fn(*entry.second);
    }
}

}  // namespace platform::netbios
