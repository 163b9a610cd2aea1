#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/lingering.h"
#include "platform/netbios/machine_service/protocol.h"
#include "platform/netbios/ncb.h"
#include "platform/netbios/session.h"
#include "platform/netbios/session_table.h"
#include "platform/netbios/socket.h"
#include "platform/sync/event.h"

// A program's side of the NetBIOS service: Netbios() commands go to the service, which answers
// each; sessions it hands over are carried on here with their sockets, so session data never
// passes through the service. A connection that breaks (the service ended or restarted)
// completes every command still waiting with NRC_SYSTEM, which makes a listening port register
// its name again; the next command connects anew.
namespace platform::netbios::service {

class ServiceClient : public std::enable_shared_from_this<ServiceClient> {
  public:
    // A command other than a listen that gets no answer for this long breaks the connection.
    static constexpr std::chrono::seconds kAnswerTimeout{30};

    explicit ServiceClient(std::string socket_path);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    // As Netbios().
    std::uint8_t Submit(NCB* ncb);
    // A mailslot made by the service (where network mailslot writes arrive); nullopt when the
    // name is taken or the service cannot be reached.
    std::optional<platform::mailslot::Mailslot> OpenMailslot(std::string_view name,
                                                             std::size_t max_message_size);
    // As Stack::WriteMailslot, carried out by the service's stack.
    bool WriteMailslot(std::uint8_t lana, std::string_view computer_or_star,
                       std::string_view mailslot, std::span<const std::uint8_t> data);
    // Whether the service could be reached the last time it was tried.
    bool Reachable() const { return reachable_.load(); }
    const std::string& socket_path() const { return path_; }
    // Why the service refused a name this program asked for, to tell its user; empty when it
    // refused none (or gave no reason).
    std::string Refusal();

  private:
    struct Connection;
    struct Waiter;
    class MailslotLease;
    using Lock = std::unique_lock<std::mutex>;

    // Every command but a listen, on the caller's thread: most go to the service as they are.
    std::uint8_t RunCommand(NCB* ncb, std::uint8_t command);
    // Asks the service to carry out the control block's command; with completes_itself (an
    // asynchronous listen) it returns NRC_PENDING and completes the control block later.
    std::uint8_t Forward(NCB* ncb, bool completes_itself);
    // Forwarded, then the sessions of the name or adapter end here too.
    std::uint8_t DeleteName(NCB* ncb);
    std::uint8_t Reset(NCB* ncb);
    // Sends the request and waits for its answer (a listen with ASYNCH: returns NRC_PENDING and
    // completes the control block later).
    std::uint8_t Ask(const Request& request, const std::shared_ptr<Waiter>& waiter);
    std::shared_ptr<Connection> Connect(Lock& lock);
    // Ends the connection: every waiting command completes with NRC_SYSTEM.
    void Break(const std::shared_ptr<Connection>& connection);
    void Complete(const std::shared_ptr<Waiter>& waiter, const Reply& reply, UniqueFd fd);
    // Carries on the session a listen or call was answered with; its return code.
    std::uint8_t TakeSession(const Waiter& waiter, const Reply& reply, UniqueFd fd);
    void Run();
    void ReadReplies(const std::shared_ptr<Connection>& connection);
    void CloseMailslot(std::uint64_t generation, const std::string& name);

    // Sessions handed over; the peer's address is asked of the socket when not given.
    std::uint8_t AddSession(std::uint8_t lana, UniqueFd fd, const wire::NetbiosName& local,
                            const wire::NetbiosName& remote, std::uint32_t address,
                            Session::Limits limits);
    std::shared_ptr<Session> FindSession(const NCB* ncb) const {
        return sessions_.Find(ncb->ncb_lana_num, ncb->ncb_lsn);
    }

    const std::string path_;
    std::atomic<bool> reachable_{true};
    std::atomic<std::uint64_t> live_generation_{0};  // 0 while not connected

    std::mutex mutex_;
    std::condition_variable answered_;
    std::shared_ptr<Connection> connection_;
    std::uint64_t next_generation_ = 1;
    std::uint32_t next_id_ = 1;
    std::map<std::uint32_t, std::shared_ptr<Waiter>> waiting_;
    LingeringSockets lingering_;  // drained by the reader
    // The mailslots handed out, woken when their connection ends.
    std::vector<std::weak_ptr<MailslotLease>> leases_;
    bool stopping_ = false;
    std::string refusal_;  // under mutex_

    std::mutex lanas_mutex_;
    struct LanaSessions {
        std::size_t max_sessions = 16;
        std::uint8_t next_lsn = 1;
    };
    std::map<std::uint8_t, LanaSessions> lanas_;  // under lanas_mutex_
    SessionTable sessions_;

    platform::Event wake_{platform::Event::Mode::AutoReset};
    std::thread reader_;
};

}  // namespace platform::netbios::service
