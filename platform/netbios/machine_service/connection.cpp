#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/netbios/machine_service.h"
#include "platform/netbios/machine_service/client_parts.h"
#include "platform/netbios/ncb_dispatch.h"

// The connection to the service: made when a command needs it, a request and its wait for the
// answer, its end, and the reader thread, which also drains lingering sockets.
namespace platform::netbios::service {

std::shared_ptr<ServiceClient::Connection> ServiceClient::Connect(Lock&) {
    if (connection_ || stopping_) {
        return connection_;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // What the program tells its user follows whether the service answers.
    auto reachable = [this](bool now) {
        if (reachable_.exchange(now) != now) {
            ReceptionChanged().Set();
        }
    };
    if (!fd || path_.size() >= sizeof address.sun_path) {
        reachable(false);
        return nullptr;
    }
    std::memcpy(address.sun_path, path_.data(), path_.size());
    // A service that takes nothing for this long (also while connecting) is as good as gone.
    timeval bound{5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        reachable(false);
        return nullptr;
    }
    reachable(true);
    connection_ = std::make_shared<Connection>(Connection{std::move(fd), next_generation_++});
    live_generation_ = connection_->generation;
    wake_.Set();  // the reader takes up the new connection
    return connection_;
}

std::uint8_t ServiceClient::Ask(const Request& request, const std::shared_ptr<Waiter>& waiter) {
    NCB* ncb = waiter->ncb;
    auto fail = [&](std::uint8_t code) {
        if (waiter->async) {
            Finish(ncb, code);  // the owner may wait on the event whatever is returned
        }
        return code;
    };
    Lock lock(mutex_);
    auto connection = Connect(lock);
    if (!connection) {
        lock.unlock();
        return fail(NRC_SYSTEM);
    }
    const std::uint32_t id = next_id_++;
    Request numbered = request;
    numbered.id = id;
    const auto bytes = EncodeRequest(numbered);
    waiter->generation = connection->generation;
    if (waiter->async) {
        // Before the answer can possibly come.
        ncb->ncb_retcode = NRC_PENDING;
        ncb->ncb_cmd_cplt = NRC_PENDING;
    }
    waiting_[id] = waiter;
    ssize_t sent;
    do {
        sent = ::send(connection->fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(bytes.size())) {
        waiting_.erase(id);
        lock.unlock();
        Break(connection);
        return fail(NRC_SYSTEM);
    }
    if (waiter->async) {
        return NRC_PENDING;
    }
    auto answered = [&] { return waiter->done; };
    if (waiter->command == NCBLISTEN) {
        answered_.wait(lock, answered);  // a listen waits for its caller, however long
    } else if (!answered_.wait_for(lock, kAnswerTimeout, answered)) {
        waiting_.erase(id);
        lock.unlock();
        Break(connection);
        return NRC_SYSTEM;
    }
    return waiter->code;
}

void ServiceClient::Break(const std::shared_ptr<Connection>& connection) {
    std::vector<std::shared_ptr<Waiter>> to_finish;
    // Let go of after the lock: a lease's end takes it.
    std::vector<std::shared_ptr<MailslotLease>> woken;
    {
        std::lock_guard lock(mutex_);
        if (connection_ == connection) {
            connection_.reset();
            live_generation_ = 0;
        }
        for (const auto& l : leases_) {
            if (auto lease = l.lock(); lease && lease->generation() == connection->generation) {
                lease->WakeReader();
                woken.push_back(std::move(lease));
            }
        }
        // The reader sees the end and lets go of the socket.
        ::shutdown(connection->fd.get(), SHUT_RDWR);
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (it->second->generation != connection->generation) {
                ++it;
                continue;
            }
            auto& w = it->second;
            w->code = NRC_SYSTEM;
            w->done = true;
            if (w->async) {
                to_finish.push_back(w);
            }
            it = waiting_.erase(it);
        }
    }
    answered_.notify_all();
    wake_.Set();
    for (auto& w : to_finish) {
        Finish(w->ncb, NRC_SYSTEM);
    }
}

void ServiceClient::Run() {
    ::pthread_setname_np(::pthread_self(), "netbios-client");
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> lingering_ids;
    for (;;) {
        std::shared_ptr<Connection> connection;
        Clock::time_point next;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            connection = connection_;
            lingering_.Expire(Clock::now());
            fds.assign(
                {{wake_.fd(), POLLIN, 0}, {connection ? connection->fd.get() : -1, POLLIN, 0}});
            lingering_ids.clear();
            lingering_.Watch(fds, lingering_ids);
            next = lingering_.NextDeadline();
        }
        if (::poll(fds.data(), fds.size(), PollTimeout(next)) <= 0) {
            continue;
        }
        if (fds[0].revents) {
            wake_.TryConsume();
        }
        if (connection && fds[1].revents) {
            ReadReplies(connection);
        }
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < lingering_ids.size(); ++i) {
            if (fds[2 + i].revents != 0) {
                lingering_.Drain(lingering_ids[i]);
            }
        }
    }
}

}  // namespace platform::netbios::service
