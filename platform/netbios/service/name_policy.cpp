#include "platform/netbios/service/name_policy.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/codepage/codepage.h"

namespace platform::netbios::service {

std::string WireName(std::string_view name) {
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return platform::codepage::Utf8ToOem(upper).substr(0, wire::kNameSize - 1);
}

std::optional<std::string> LoginName(uid_t uid) {
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    return std::string(found->pw_name);
}

NamePolicy::NamePolicy(uid_t uid, const std::string& computer_name,
                       const std::optional<std::string>& login_name)
    : uid_(uid), any_(uid == 0) {
    if (!computer_name.empty()) {
        computer_ = wire::MakeName(computer_name, kMessengerSuffix);
        allowed_.push_back(*computer_);
    }
    if (login_name && !login_name->empty()) {
        allowed_.push_back(wire::MakeName(WireName(*login_name), kMessengerSuffix));
    }
}

bool NamePolicy::MayAdd(const wire::NetbiosName& name) const {
    return any_ || std::find(allowed_.begin(), allowed_.end(), name) != allowed_.end();
}

bool NamePolicy::MayCallFrom(const wire::NetbiosName& name, uid_t holder_uid) const {
    return any_ || holder_uid == uid_ || (computer_ && name == *computer_);
}

}  // namespace platform::netbios::service
