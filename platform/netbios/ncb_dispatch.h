#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/netbios/lingering.h"
#include "platform/netbios/ncb.h"
#include "platform/netbios/session.h"
#include "platform/netbios/session_table.h"
#include "platform/netbios/wire/name.h"

// What carrying out a control block means for any stack, the process's own or the client of the
// machine's service: which command it holds, how it completes, and the commands on an
// established session, which run on the caller's thread in either.
namespace platform::netbios {

inline wire::NetbiosName FieldName(const std::uint8_t (&field)[NCBNAMSZ]) {
    wire::NetbiosName name;
    std::memcpy(name.data(), field, name.size());
    return name;
}

// Sets the output fields of a command that ends before Netbios() returns.
inline std::uint8_t SetResult(NCB* ncb, std::uint8_t code) {
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    return code;
}

// Completes an asynchronous command: output fields, then the post routine and the event.
void Finish(NCB* ncb, std::uint8_t code);

// Runs one control block. A listen goes to listen(async) as it is: it may wait for a caller for
// as long as it takes and completes itself. Any other command runs to its end in run(command) on
// the caller's thread; when asynchronous it is marked pending first and then completes as an
// asynchronous command does.
template <class ListenFn, class RunFn>
std::uint8_t Dispatch(NCB* ncb, ListenFn&& listen, RunFn&& run) {
    if (ncb == nullptr) {
        return NRC_ILLCMD;
    }
    const std::uint8_t command = ncb->ncb_command & static_cast<std::uint8_t>(~ASYNCH);
    const bool async = (ncb->ncb_command & ASYNCH) != 0;
    if (command == NCBLISTEN) {
        return listen(async);
    }
    if (async) {
        SetResult(ncb, NRC_PENDING);
    }
    const std::uint8_t code = run(command);
    if (async) {
        Finish(ncb, code);
        return NRC_PENDING;
    }
    return SetResult(ncb, code);
}

// Receive and send on the session the control block names (null: no session by its number).
std::uint8_t ReceiveOn(const std::shared_ptr<Session>& session, NCB* ncb);
std::uint8_t SendOn(const std::shared_ptr<Session>& session, NCB* ncb);
// Hangs up the session the control block names; linger(fd) takes over a socket whose peer may
// still be sending.
template <class LingerFn>
std::uint8_t HangUpIn(SessionTable& sessions, const NCB* ncb, LingerFn&& linger) {
    const std::shared_ptr<Session> session = sessions.Take(ncb->ncb_lana_num, ncb->ncb_lsn);
    if (!session) {
        return NRC_SNUMOUT;
    }
    if (UniqueFd fd = session->Hangup(); fd && MustLingerAfterHangup(fd.get())) {
        linger(std::move(fd));
    }
    return NRC_GOODRET;
}

}  // namespace platform::netbios
