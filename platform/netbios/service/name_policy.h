#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/netbios/wire/name.h"

// Which names a program may add through the NetBIOS service. The superuser may add any name; a
// program of a normal user only the computer's name and the user's own login name, each with the
// messenger suffix, so that no user can take the name another user receives messages on.
namespace platform::netbios::service {

inline constexpr std::uint8_t kMessengerSuffix = 0x03;

// A computer or user name as it goes on the wire: upper case, in the OEM code page, at most 15
// bytes.
std::string WireName(std::string_view name);

// The login name of a user; nullopt when the user database does not know the id.
std::optional<std::string> LoginName(uid_t uid);

class NamePolicy {
  public:
    // computer_name in its wire form; login_name as the user database gives it (may be absent).
    NamePolicy(uid_t uid, const std::string& computer_name,
               const std::optional<std::string>& login_name);

    bool MayAdd(const wire::NetbiosName& name) const;
    // Whether a program may call from a name the stack holds for a program of holder_uid: from
    // its user's own names, whichever of the user's programs added them (a sender beside the
    // user's receiver), and from the computer's name, which every user of the computer shares.
    bool MayCallFrom(const wire::NetbiosName& name, uid_t holder_uid) const;

  private:
    uid_t uid_ = 0;
    bool any_ = false;
    std::optional<wire::NetbiosName> computer_;
    std::vector<wire::NetbiosName> allowed_;
};

}  // namespace platform::netbios::service
