#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/netbios/machine_service/protocol.h"
#include "platform/netbios/ncb.h"
#include "tools/netbiosd/server/server.h"

namespace platform::netbios::service {

// An asynchronous listen submitted for a program. The control block comes first, so that the
// completion routine, which gets only the control block, finds the rest.
struct Server::PendingListen {
    NCB ncb;
    Server* server = nullptr;
    Channel* channel = nullptr;
    std::uint64_t client = 0;
    std::uint32_t id = 0;
    bool shared = false;                // the service's own, for the computer's name
    std::atomic<bool> finished{false};  // the completion routine is done with it
};

static_assert(std::is_standard_layout_v<Server::PendingListen>);

// A control block for the stack from a program's fields.
inline NCB Command(std::uint8_t command, std::uint8_t lana, const wire::NetbiosName& name) {
    NCB ncb;
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    std::memcpy(ncb.ncb_name, name.data(), name.size());
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    return ncb;
}

inline NCB CommandFrom(const CommandFields& f, std::uint8_t command) {
    NCB ncb = Command(command, f.lana, f.name);
    std::memcpy(ncb.ncb_callname, f.callname.data(), f.callname.size());
    ncb.ncb_lsn = f.lsn;
    ncb.ncb_num = f.num;
    ncb.ncb_rto = f.rto;
    ncb.ncb_sto = f.sto;
    return ncb;
}

}  // namespace platform::netbios::service
