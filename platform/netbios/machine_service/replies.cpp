#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/netbios/machine_service.h"
#include "platform/netbios/machine_service/client_parts.h"
#include "platform/netbios/ncb_dispatch.h"

// The service's replies: read with the sockets they hand over, and taken into the control blocks
// of the commands that wait for them.
namespace platform::netbios::service {

void ServiceClient::Complete(const std::shared_ptr<Waiter>& w, const Reply& reply, UniqueFd fd) {
    std::uint8_t code = reply.retcode;
    NCB* ncb = w->ncb;
    if (ncb != nullptr && w->command == NCBCALL) {
        SetCallAddress(*ncb, reply.address);  // also when refused: where the name was found
    }
    if (ncb == nullptr) {
        w->handed = std::move(fd);
    } else if (w->command == NCBADDNAME && code != NRC_GOODRET && !reply.data.empty()) {
        std::string refusal(reply.data.begin(), reply.data.end());
        if (refusal != refusal_) {
            refusal_ = std::move(refusal);
            ReceptionChanged().Set();  // whoever tells the user waits on this, not on a timer
        }
    } else if (code == NRC_GOODRET) {
        switch (w->command) {
            case NCBADDNAME:
                ncb->ncb_num = reply.num;
                break;
            case NCBENUM: {
                const std::size_t n = std::min<std::size_t>(reply.data.size(), ncb->ncb_length);
                if (n > 0 && ncb->ncb_buffer != nullptr) {
                    std::memcpy(ncb->ncb_buffer, reply.data.data(), n);
                    ncb->ncb_buffer[0] =
                        static_cast<std::uint8_t>(std::min<std::size_t>(reply.data[0], n - 1));
                }
                break;
            }
            case NCBLISTEN:
            case NCBCALL:
                code = TakeSession(*w, reply, std::move(fd));
                break;
            default:
                break;
        }
    }
    w->code = code;
    w->done = true;
}

std::uint8_t ServiceClient::TakeSession(const Waiter& w, const Reply& reply, UniqueFd fd) {
    NCB* ncb = w.ncb;
    const wire::NetbiosName remote =
        w.command == NCBLISTEN ? reply.callname : FieldName(ncb->ncb_callname);
    const bool handed = static_cast<bool>(fd);
    Session::Limits limits;
    if (reply.session_idle_ms != 0) {
        limits.idle = std::chrono::milliseconds(reply.session_idle_ms);
    }
    if (reply.max_session_message != 0) {
        limits.max_message = reply.max_session_message;
    }
    // A call's address is where the name was found, which a retarget may have changed.
    const std::uint32_t address = w.command == NCBLISTEN ? reply.address : 0;
    const std::uint8_t lsn = handed ? AddSession(ncb->ncb_lana_num, std::move(fd),
                                                 FieldName(ncb->ncb_name), remote, address, limits)
                                    : 0;
    if (lsn == 0) {
        return handed ? NRC_LOCTFUL : NRC_SABORT;
    }
    ncb->ncb_lsn = lsn;
    if (w.command == NCBLISTEN) {
        ncb->ncb_num = reply.num;
        std::memcpy(ncb->ncb_callname, reply.callname.data(), reply.callname.size());
    }
    return NRC_GOODRET;
}

void ServiceClient::ReadReplies(const std::shared_ptr<Connection>& connection) {
    // Every reply that has arrived, up to a batch, in one call: a program that waits for each
    // answer has one there, and a second read would only find none.
    constexpr int kBatch = 8;
    struct Slot {
        std::array<std::uint8_t, kMaxMessageSize + 1> bytes;
        alignas(cmsghdr) std::array<unsigned char, CMSG_SPACE(sizeof(int) * 4)> control;
    };
    std::array<Slot, kBatch> slots;
    std::array<iovec, kBatch> iov{};
    std::array<mmsghdr, kBatch> msgs{};
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {slots[i].bytes.data(), slots[i].bytes.size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_control = slots[i].control.data();
        msgs[i].msg_hdr.msg_controllen = slots[i].control.size();
    }
    int n;
    do {
        n = ::recvmmsg(connection->fd.get(), msgs.data(), kBatch, MSG_DONTWAIT | MSG_CMSG_CLOEXEC,
                       nullptr);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
    }
    // Every descriptor received is owned first, so that none is left open whatever comes.
    std::array<std::vector<UniqueFd>, kBatch> fds;
    for (int i = 0; i < n; ++i) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&msgs[i].msg_hdr); c != nullptr;
             c = CMSG_NXTHDR(&msgs[i].msg_hdr, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
                const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t k = 0; k < count; ++k) {
                    int fd;
                    std::memcpy(&fd, CMSG_DATA(c) + k * sizeof(int), sizeof fd);
                    fds[i].emplace_back(fd);
                }
            }
        }
    }
    for (int i = 0; i < std::max(n, 1); ++i) {
        const msghdr& msg = msgs[i].msg_hdr;
        const std::size_t size = n > 0 ? msgs[i].msg_len : 0;
        const auto reply =
            size > 0 && (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0 && fds[i].size() <= 1
                ? DecodeReply({slots[i].bytes.data(), size})
                : std::nullopt;
        if (!reply) {
            Break(connection);  // ended, or not the service we know
            return;
        }
        std::shared_ptr<Waiter> waiter;
        {
            std::lock_guard lock(mutex_);
            auto it = waiting_.find(reply->id);
            if (it != waiting_.end() && it->second->generation == connection->generation) {
                waiter = std::move(it->second);
                waiting_.erase(it);
                Complete(waiter, *reply, fds[i].empty() ? UniqueFd() : std::move(fds[i][0]));
            }
        }
        if (waiter) {
            answered_.notify_all();
            if (waiter->async) {
                Finish(waiter->ncb, waiter->code);
            }
        }
    }
}

}  // namespace platform::netbios::service
