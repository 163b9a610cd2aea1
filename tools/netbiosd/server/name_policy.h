#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/netbios/wire/name.h"

// Which names a program may add through the NetBIOS service. The superuser may add any name; a
// program of a normal user only the computer's name and the user's own login name, each with the
// messenger suffix, so that no user can take the name another user receives messages on. Where
// two accounts' logins have the same wire form (case, the 15-byte cut, the code page's closest
// form), neither holds it: the messages to it could be either's.
namespace platform::netbios::service {

inline constexpr std::uint8_t kMessengerSuffix = 0x03;

// A computer or user name as it goes on the wire, as programs and senders make it (see
// platform::codepage::NetbiosName); empty when it has none.
std::string WireName(std::string_view name);

struct Account {
    std::string login;
    // Another account whose login has the same wire form, when there is one.
    std::optional<std::string> clash;
};

// The account of a user; nullopt when the user database does not know the id (a subordinate uid,
// a uid of another namespace). Reads the whole database now and then; may wait on it.
std::optional<Account> AccountOf(uid_t uid);

class NamePolicy {
  public:
    // computer_name in its wire form.
    NamePolicy(uid_t uid, const std::string& computer_name, const std::optional<Account>& account);

    bool MayAdd(const wire::NetbiosName& name) const;
    // Why name, the user's own, is refused, for the program to tell its user; empty when it is
    // not refused or not the user's.
    std::string Why(const wire::NetbiosName& name) const {
        return !own_ || *own_ == name ? why_ : std::string();
    }
    // Whether a program may call from a name the stack holds for a program of holder_uid: from
    // its user's own names, whichever of the user's programs added them (a sender beside the
    // user's receiver), and from the computer's name, which every user of the computer shares.
    bool MayCallFrom(const wire::NetbiosName& name, uid_t holder_uid) const;

  private:
    uid_t uid_ = 0;
    bool any_ = false;
    std::optional<wire::NetbiosName> computer_;
    std::vector<wire::NetbiosName> allowed_;
    std::optional<wire::NetbiosName> own_;
    std::string why_;
};

}  // namespace platform::netbios::service
