#include "tools/netbiosd/server/datagram_routes.h"

#include <algorithm>

#include "platform/mailslot/mailslot.h"

namespace platform::netbios::service {

std::string DatagramRoutes::CopyName(const std::string& mailslot, std::uint64_t program) {
    // A '|' and a number after the name: no program's own opening is ever made under that name,
    // since every opening is made as such a copy.
    return mailslot + "|" + std::to_string(program);
}

void DatagramRoutes::Open(std::uint64_t program, const std::string& mailslot) {
    std::lock_guard lock(mutex_);
    open_[mailslot].push_back(program);
}

void DatagramRoutes::Close(std::uint64_t program, const std::string& mailslot) {
    std::lock_guard lock(mutex_);
    auto it = open_.find(mailslot);
    if (it != open_.end()) {
        std::erase(it->second, program);
        if (it->second.empty()) {
            open_.erase(it);
        }
    }
}

void DatagramRoutes::Hold(std::uint8_t lana, const wire::NetbiosName& name, std::uint64_t program) {
    std::lock_guard lock(mutex_);
    holders_[{lana, name}] = program;
}

void DatagramRoutes::Release(std::uint8_t lana, const wire::NetbiosName& name) {
    std::lock_guard lock(mutex_);
    holders_.erase({lana, name});
}

void DatagramRoutes::Forget(std::uint64_t program) {
    std::lock_guard lock(mutex_);
    for (auto it = open_.begin(); it != open_.end();) {
        std::erase(it->second, program);
        it = it->second.empty() ? open_.erase(it) : std::next(it);
    }
    std::erase_if(holders_, [&](const auto& h) { return h.second == program; });
}

std::vector<std::string> DatagramRoutes::Route(std::uint8_t lana,
                                               const wire::NetbiosName& destination,
                                               bool to_unique_name,
                                               std::string_view mailslot) const {
    const std::string name = platform::mailslot::CanonicalName(mailslot);
    std::lock_guard lock(mutex_);
    auto it = open_.find(name);
    if (it == open_.end()) {
        return {};
    }
    std::vector<std::string> copies;
    if (to_unique_name) {
        auto holder = holders_.find({lana, destination});
        if (holder != holders_.end() &&
            std::find(it->second.begin(), it->second.end(), holder->second) != it->second.end()) {
            copies.push_back(CopyName(name, holder->second));
        }
        return copies;
    }
    for (std::uint64_t program : it->second) {
        copies.push_back(CopyName(name, program));
    }
    return copies;
}

}  // namespace platform::netbios::service
