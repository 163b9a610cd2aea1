#include <fcntl.h>

#include "platform/netbios/stack_impl.h"

// Sessions handed to another process (the one that listened or called through the NetBIOS
// service), which carries them on with the socket itself.
namespace platform::netbios {

int Stack::Impl::DetachSession(std::uint8_t lana, std::uint8_t lsn) {
    const std::shared_ptr<Session> session = sessions_.Take(lana, lsn);
    if (!session) {
        return -1;
    }
    UniqueFd fd = session->Release();
    if (fd && session->deadline() != Clock::time_point::max()) {
        UniqueFd copy(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
        std::lock_guard copies(handed_over_mutex_);
        std::erase_if(handed_over_, [&](const HandedOver& h) {
            return h.lana == lana && h.local == session->local_name();
        });
        if (copy && handed_over_.size() < kMaxHandedOver) {
            handed_over_.push_back({std::move(copy), lana, session->local_name(),
                                    session->remote_address(), session->deadline()});
        }
    }
    return fd.release();
}

}  // namespace platform::netbios
