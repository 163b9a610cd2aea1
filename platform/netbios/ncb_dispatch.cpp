#include "platform/netbios/ncb_dispatch.h"

namespace platform::netbios {

void Finish(NCB* ncb, std::uint8_t code) {
    SetResult(ncb, code);
    auto* post = ncb->ncb_post;
    auto* event = ncb->ncb_event;
    if (post != nullptr) {
        post(ncb);
    }
    // Last: once the event is set the control block belongs to its owner again.
    if (event != nullptr) {
        event->Set();
    }
}

namespace {

std::uint8_t CheckSession(const std::shared_ptr<Session>& session, const NCB* ncb) {
    if (!session) {
        return NRC_SNUMOUT;
    }
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length > 0) {
        return NRC_BUFLEN;
    }
    return NRC_GOODRET;
}

}  // namespace

std::uint8_t ReceiveOn(const std::shared_ptr<Session>& session, NCB* ncb) {
    if (const std::uint8_t code = CheckSession(session, ncb); code != NRC_GOODRET) {
        return code;
    }
    std::size_t received = 0;
    const std::uint8_t code = session->Receive({ncb->ncb_buffer, ncb->ncb_length}, received);
    ncb->ncb_length = static_cast<std::uint16_t>(received);
    return code;
}

std::uint8_t SendOn(const std::shared_ptr<Session>& session, NCB* ncb) {
    if (const std::uint8_t code = CheckSession(session, ncb); code != NRC_GOODRET) {
        return code;
    }
    return session->Send({ncb->ncb_buffer, ncb->ncb_length});
}

}  // namespace platform::netbios
