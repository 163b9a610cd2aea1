#include "tools/netbiosd/server/name_policy.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

#include "platform/codepage/codepage.h"

namespace platform::netbios::service {
namespace {

// How long one reading of the user database answers for.
constexpr auto kAccountsFresh = std::chrono::seconds(10);

struct Accounts {
    std::mutex mutex;
    std::chrono::steady_clock::time_point read{};
    bool valid = false;
    std::multimap<std::string, std::pair<uid_t, std::string>> by_wire;  // wire form -> uid, login
};

// The getpwent family keeps one position per process: one reader at a time.
const Accounts& ReadAccounts(std::unique_lock<std::mutex>&, Accounts& a) {
    const auto now = std::chrono::steady_clock::now();
    if (a.valid && now - a.read < kAccountsFresh) {
        return a;
    }
    a.by_wire.clear();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    ::setpwent();
    while (::getpwent_r(&entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        if (const std::string wire = WireName(found->pw_name); !wire.empty()) {
            a.by_wire.emplace(wire, std::make_pair(found->pw_uid, std::string(found->pw_name)));
        }
    }
    ::endpwent();
    a.read = now;
    a.valid = true;
    return a;
}

}  // namespace

std::string WireName(std::string_view name) {
    return platform::codepage::NetbiosName(name).value_or(std::string());
}

std::optional<Account> AccountOf(uid_t uid) {
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    Account account{found->pw_name, std::nullopt};
    const std::string wire = WireName(account.login);
    static Accounts accounts;
    std::unique_lock lock(accounts.mutex);
    const Accounts& all = ReadAccounts(lock, accounts);
    auto [first, last] = all.by_wire.equal_range(wire);
    for (auto it = first; it != last; ++it) {
        if (it->second.first != uid) {
            account.clash = it->second.second;
            break;
        }
    }
    return account;
}

NamePolicy::NamePolicy(uid_t uid, const std::string& computer_name,
                       const std::optional<Account>& account)
    : uid_(uid), any_(uid == 0) {
    if (!computer_name.empty()) {
        computer_ = wire::MakeName(computer_name, kMessengerSuffix);
        allowed_.push_back(*computer_);
    }
    if (!account || account->login.empty()) {
        return;
    }
    const std::string wire = WireName(account->login);
    if (wire.empty()) {
        why_ = "the login name " + account->login + " cannot be written as a NetBIOS name";
    } else if (own_ = wire::MakeName(wire, kMessengerSuffix); account->clash) {
        why_ = "the account " + *account->clash + " has the same NetBIOS name (" + wire + ") as " +
               account->login + ", so neither receives messages to it";
    } else {
        allowed_.push_back(*own_);
    }
}

bool NamePolicy::MayAdd(const wire::NetbiosName& name) const {
    return any_ || std::find(allowed_.begin(), allowed_.end(), name) != allowed_.end();
}

bool NamePolicy::MayCallFrom(const wire::NetbiosName& name, uid_t holder_uid) const {
    return any_ || holder_uid == uid_ || (computer_ && name == *computer_);
}

}  // namespace platform::netbios::service
