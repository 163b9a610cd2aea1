#include "platform/netbios/machine_service/client.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

#include "platform/netbios/machine_service/client_parts.h"
#include "platform/netbios/ncb_dispatch.h"

namespace platform::netbios::service {
namespace {

CommandFields FieldsOf(const NCB& ncb) {
    CommandFields f;
    f.command = ncb.ncb_command;
    f.lana = ncb.ncb_lana_num;
    f.lsn = ncb.ncb_lsn;
    f.num = ncb.ncb_num;
    f.rto = ncb.ncb_rto;
    f.sto = ncb.ncb_sto;
    f.length = ncb.ncb_length;
    f.name = FieldName(ncb.ncb_name);
    f.callname = FieldName(ncb.ncb_callname);
    if ((ncb.ncb_command & static_cast<std::uint8_t>(~ASYNCH)) == NCBCALL) {
        f.address = CallAddress(ncb);
    }
    return f;
}

}  // namespace

ServiceClient::ServiceClient(std::string socket_path) : path_(std::move(socket_path)) {
    reader_ = std::thread([this] { Run(); });
}

ServiceClient::~ServiceClient() {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        connection = connection_;
    }
    if (connection) {
        Break(connection);
    }
    wake_.Set();
    reader_.join();
    sessions_.Abort(std::nullopt, nullptr, false);
}

std::uint8_t ServiceClient::Submit(NCB* ncb) {
    return Dispatch(
        ncb,
        [&](bool async) {
            const std::uint8_t code = Forward(ncb, async);
            return async ? code : SetResult(ncb, code);
        },
        [&](std::uint8_t command) { return RunCommand(ncb, command); });
}

std::uint8_t ServiceClient::Forward(NCB* ncb, bool completes_itself) {
    auto waiter = std::make_shared<Waiter>();
    waiter->ncb = ncb;
    waiter->command = ncb->ncb_command & static_cast<std::uint8_t>(~ASYNCH);
    waiter->async = completes_itself;
    Request request;
    request.ncb = FieldsOf(*ncb);
    return Ask(request, waiter);
}

std::uint8_t ServiceClient::RunCommand(NCB* ncb, std::uint8_t command) {
    switch (command) {
        case NCBRECV:
            return ReceiveOn(FindSession(ncb), ncb);
        case NCBSEND:
            return SendOn(FindSession(ncb), ncb);
        case NCBHANGUP:
            return HangUpIn(sessions_, ncb, [this](UniqueFd fd) {
                std::lock_guard lock(mutex_);
                lingering_.Add(std::move(fd));
                wake_.Set();
            });
        case NCBDELNAME:
            return DeleteName(ncb);
        case NCBRESET:
            return Reset(ncb);
        case NCBADDNAME:
        case NCBENUM:
        case NCBCALL:
            return Forward(ncb, false);
        default:
            return NRC_ILLCMD;
    }
}

std::uint8_t ServiceClient::DeleteName(NCB* ncb) {
    const std::uint8_t code = Forward(ncb, false);
    if (code == NRC_GOODRET) {
        const wire::NetbiosName name = FieldName(ncb->ncb_name);
        sessions_.Abort(ncb->ncb_lana_num, &name, false);
    }
    return code;
}

std::uint8_t ServiceClient::Reset(NCB* ncb) {
    const std::uint8_t code = Forward(ncb, false);
    if (code == NRC_GOODRET) {
        sessions_.Abort(ncb->ncb_lana_num, nullptr, true);
        if (ncb->ncb_lsn == 0) {
            std::lock_guard lock(lanas_mutex_);
            const std::uint8_t room = ncb->ncb_callname[0];
            lanas_[ncb->ncb_lana_num].max_sessions =
                room ? std::min<std::size_t>(room, 254) : LanaSessions{}.max_sessions;
        }
    }
    return code;
}

std::string ServiceClient::Refusal() {
    std::lock_guard lock(mutex_);
    return refusal_;
}

std::uint8_t ServiceClient::AddSession(std::uint8_t lana, UniqueFd fd,
                                       const wire::NetbiosName& local,
                                       const wire::NetbiosName& remote, std::uint32_t address,
                                       Session::Limits limits) {
    // Called with mutex_ held, by completions only: the number stays free until put.
    std::uint8_t lsn;
    {
        std::lock_guard lock(lanas_mutex_);
        LanaSessions& l = lanas_[lana];
        lsn = sessions_.FreeNumber(lana, l.next_lsn, l.max_sessions);
    }
    if (lsn == 0) {
        return 0;
    }
    // The service's stack made the socket and set it up (no delay) before handing it over.
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (address == 0 && ::getpeername(fd.get(), reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
        address = ntohl(peer.sin_addr.s_addr);
    }
    sessions_.Put(
        std::make_shared<Session>(std::move(fd), lana, lsn, local, remote, address, limits));
    return lsn;
}

}  // namespace platform::netbios::service
