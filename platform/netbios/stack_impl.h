#pragma once

#include <poll.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "platform/netbios/interface_watch.h"
#include "platform/netbios/interfaces.h"
#include "platform/netbios/lingering.h"
#include "platform/netbios/mailslot_delivery.h"
#include "platform/netbios/session.h"
#include "platform/netbios/session_table.h"
#include "platform/netbios/socket.h"
#include "platform/netbios/stack.h"
#include "platform/netbios/watched_fd.h"
#include "platform/netbios/wire/name.h"
#include "platform/netbios/wire/name_service.h"
#include "platform/netbios/wire/session.h"
#include "platform/sync/event.h"

namespace platform::netbios {

using Clock = std::chrono::steady_clock;
using wire::NetbiosName;

// The stack's state and its thread. One mutex guards everything but the sessions' own I/O;
// callers block on the condition variable (registration, name queries, synchronous listens,
// work handed to the thread), never while holding the mutex across a wait for the network.
class Stack::Impl {
  public:
    explicit Impl(Config config);
    ~Impl();

    std::uint8_t Submit(NCB* ncb);
    std::vector<BindProblem> BindProblems() const;
    std::vector<Adapter> Adapters() const;
    int DetachSession(std::uint8_t lana, std::uint8_t lsn);
    bool WriteMailslot(std::uint8_t lana, std::string_view target, std::string_view mailslot,
                       std::span<const std::uint8_t> data);

    static constexpr std::size_t kDefaultSessions = 16;
    static constexpr std::size_t kDefaultNames = 8;
    static constexpr std::size_t kMaxHandedOver = 256;
    static constexpr int kPacketsPerWake = 64;  // read (or accepted) at one wake of the thread
    static constexpr std::size_t kMaxRequestSize = 600;  // two names with the longest scopes
    // A session request is at least its header and two names without scope: reading that much
    // from where a frame starts takes the whole of most requests in one read, and never a byte
    // beyond a request (what follows belongs to the session).
    static constexpr std::size_t kMinRequestRead =
        wire::kSessionHeaderSize + 2 * wire::kEncodedNameSize;
    static constexpr std::chrono::milliseconds kCallTimeout{5000};
    // An address whose session ran past its conversation limit while others waited comes after
    // every other waiting address for this long.
    static constexpr std::chrono::milliseconds kOverrunMemory{30000};
    static constexpr std::size_t kMaxOverrunAddresses = 1024;
    // Pauses of the listening socket while accepting fails for want of descriptors or memory.
    static constexpr std::chrono::milliseconds kMinAcceptPause{50};
    static constexpr std::chrono::milliseconds kMaxAcceptPause{1000};

  private:
    using Lock = std::unique_lock<std::mutex>;

    struct SyncListen {
        bool done = false;
    };
    struct PendingListen {
        NCB* ncb = nullptr;
        std::shared_ptr<SyncListen> sync;  // set for a listen without ASYNCH
    };
    struct NameEntry {
        enum class State { Registering, Held, Conflict };
        State state = State::Registering;
        std::uint8_t number = 0;
        std::uint64_t generation = 0;
        std::uint16_t registration_id = 0;
        bool refused = false;
        // Until then a negative answer to our claim still means another node holds the name.
        Clock::time_point late_answers_until;
        std::deque<PendingListen> listens;
    };
    struct Lana {
        std::uint8_t number = 0;
        InterfaceInfo iface;
        bool present = true;
        std::size_t max_sessions = kDefaultSessions;
        std::size_t max_names = kDefaultNames;
        std::map<NetbiosName, NameEntry> names;
        std::uint8_t next_name_number = 1;
        std::uint8_t next_lsn = 1;
    };
    // An accepted connection before its session request has been read.
    struct Incoming {
        std::uint64_t id = 0;  // descriptor numbers are reused; ids are not
        WatchedFd fd;          // in connections_ once kept in incoming_
        std::uint32_t local_address = 0;
        std::uint32_t remote_address = 0;
        std::array<std::uint8_t, kMaxRequestSize> buffer{};
        std::size_t have = 0;
        std::size_t need = kMinRequestRead;  // how much of the buffer to fill
        Clock::time_point deadline;
    };
    enum class RequestState { Pending, Closed, Garbage, Complete };
    // A connection the stack's thread takes from the listener, which is its alone, and what
    // arrived of its request, before it takes the lock that the listening threads may want.
    struct Accepted {
        Incoming in;
        int error = 0;  // why none was taken
        RequestState state = RequestState::Closed;
        std::optional<wire::SessionRequest> request;
    };
    // A session request for a held name that waits for the next listen.
    struct Queued {
        std::uint64_t id = 0;
        WatchedFd fd;  // in connections_, for a hang-up
        std::uint8_t lana = 0;
        NetbiosName called{};
        NetbiosName calling{};
        std::uint32_t remote_address = 0;
        Clock::time_point deadline;
    };
    // A session carried on by another process, seen through a copy of its socket: past its
    // conversation limit, while another sender waits for its name, the stack ends it through
    // that copy as it would end a session of its own. One per name: the next session handed
    // over for the name means this conversation is over.
    struct HandedOver {
        UniqueFd fd;
        std::uint8_t lana = 0;
        NetbiosName local{};
        std::uint32_t remote_address = 0;
        Clock::time_point deadline;
    };
    // A name release sent again at an interval.
    struct Repeated {
        std::uint8_t lana = 0;
        NetbiosName name{};
        std::uint16_t trn_id = 0;
        int left = 0;
        Clock::time_point next;
    };
    struct Query {
        NetbiosName name{};
        std::optional<wire::NbEntry> answer;
    };
    struct Completion {
        NCB* ncb = nullptr;
        std::uint8_t code = 0;
    };
    using Completions = std::vector<Completion>;

    // Commands (stack_names.cpp, stack_sessions.cpp).
    std::uint8_t AddName(NCB* ncb);
    std::uint8_t DeleteName(NCB* ncb);
    std::uint8_t Reset(NCB* ncb);
    std::uint8_t Enumerate(NCB* ncb);
    std::uint8_t Listen(NCB* ncb, bool async);
    std::uint8_t Call(NCB* ncb);
    std::uint8_t Receive(NCB* ncb);
    std::uint8_t Send(NCB* ncb);
    std::uint8_t Hangup(NCB* ncb);

    // Every command but a listen, on the caller's thread.
    std::uint8_t RunCommand(NCB* ncb, std::uint8_t command);
    // Completes the asynchronous commands that ended.
    static void FinishAll(Completions& done);

    // Names (under the lock).
    // A name number the adapter does not use (0 when all are taken).
    std::uint8_t FreeNameNumber(Lana& lana);
    // Registers the name just entered on the network (lock held, released while waiting for
    // objections); NRC_GOODRET once it is held.
    std::uint8_t Register(Lock& lock, std::uint8_t lana, const NetbiosName& name,
                          const NameEntry& entry);
    Lana* FindLana(std::uint8_t number);
    NameEntry* FindHeld(Lana& lana, const NetbiosName& name);
    // Drops a name: fails its listens with code, refuses its queued requests, aborts its
    // sessions, and releases it on the network when it was held.
    void DropName(Lana& lana, const NetbiosName& name, std::uint8_t listen_code, Completions& done);
    void DropLana(Lana& lana, std::uint8_t listen_code, Completions& done);
    void FailListens(NameEntry& entry, std::uint8_t code, Completions& done);
    void RefuseQueued(std::uint8_t lana, const NetbiosName& name, std::uint8_t error);
    std::uint16_t NextTransactionId();
    // Sends on every subnet of the LANA to its broadcast target (the node itself where there is
    // none, as on loopback), from the LANA's address there; packet_for builds each subnet's
    // packet, since registrations and releases carry that address. False when a send failed.
    using PacketFor = std::function<std::vector<std::uint8_t>(const Subnet&)>;
    bool Broadcast(const Lana& lana, int fd, std::uint16_t port, const PacketFor& packet_for);
    void BroadcastRelease(const Lana& lana, const NetbiosName& name, std::uint16_t trn_id);
    // Sends a name query and waits for a positive answer (lock held, released while waiting).
    std::optional<wire::NbEntry> Resolve(Lock& lock, std::uint8_t lana, const NetbiosName& name);

    // A number for a new session when the adapter has room (0 when not); under the lock, so the
    // number stays free until the session is put in the table.
    std::uint8_t AllocateLsn(Lana& lana) {
        return sessions_.FreeNumber(lana.number, lana.next_lsn, lana.max_sessions);
    }
    // Gives the queued requests for the name to its listens, as long as both last.
    void ServeQueued(Lana& lana, NameEntry& entry, const NetbiosName& name, Completions& done);
    // Connects to the called name at address and asks for a session (following one retarget,
    // which changes address); NRC_GOODRET with fd connected, else why not (fd unusable).
    std::uint8_t RequestSession(UniqueFd& fd, std::uint32_t& address, const NetbiosName& local,
                                const NetbiosName& remote);
    // Gives a session request to the first matching listen of the name; false when none.
    bool OfferToListen(Lana& lana, NameEntry& entry, UniqueFd& fd, const NetbiosName& called,
                       const NetbiosName& calling, std::uint32_t remote_address, Completions& done);
    void CompleteListen(NameEntry& entry, std::size_t index, std::uint8_t code, Completions& done);
    // Answers negatively and closes once the answer is out.
    void Refuse(UniqueFd fd, std::uint8_t error);
    // A new session on fd.
    std::shared_ptr<Session> NewSession(UniqueFd fd, std::uint8_t lana, std::uint8_t lsn,
                                        const NetbiosName& local, const NetbiosName& remote,
                                        std::uint32_t remote_address, bool listened);
    // Calls fn with every open session whose name another sender waits for.
    void ForEachContendedSession(const std::function<void(Session&)>& fn) const;
    // Whether another sender waits for the name on the adapter.
    bool Contended(std::uint8_t lana, const NetbiosName& name) const;
    // Drops what one address holds beyond the bounds before a connection from remote is taken.
    void MakeRoomForIncoming(std::uint32_t remote);
    // Refuses a waiting request of the address holding most of the name's full queue; false
    // when that is the newcomer's own address (the newcomer is then the one refused).
    bool MakeRoomInQueue(std::uint8_t lana, const NetbiosName& called, std::uint32_t remote);
    void CloseGracefully(UniqueFd fd);

    // The thread (stack_loop.cpp).
    // What one wait of the thread watches: the fixed descriptors first (connections_ among
    // them), then the lingering sockets by their ids.
    struct PollSet {
        std::vector<pollfd> fds;
        std::vector<std::uint64_t> ids;  // for each descriptor past the fixed ones
    };
    void Run();
    void RunTasks();
    void FillPollSet(Clock::time_point now, PollSet& set) const;
    // Reads the service ports, the wake-up event and the interface watch, and takes what was
    // accepted.
    void ServePorts(const std::vector<pollfd>& fds, std::vector<std::uint8_t>& packet,
                    Accepted& accepted);
    void ServeConnections(const PollSet& set);
    void Wake() { wake_.Set(); }
    // Runs fn on the stack's thread with the lock held (its sockets and interface view belong to
    // the network namespace it started in); false when the stack is stopping.
    bool RunOnStackThread(const std::function<void()>& fn);
    void RefreshInterfaces(Completions& done);
    // When to list the interfaces again after a look at them now: never unasked where the
    // interface watch works, else after the scan interval.
    Clock::time_point NextInterfaceScan(Clock::time_point now) const {
        return interface_watch_.valid() ? Clock::time_point::max()
                                        : now + config_.interface_scan_interval;
    }
    // Binds the ports that are not bound yet; returns whether the set of problems changed.
    bool TryBind();
    void ReportBindProblems(Lock& lock);
    bool EnsurePorts(bool names, bool sessions, bool datagrams);
    Clock::time_point NextDeadline(Clock::time_point now) const;
    void RunTimers(Clock::time_point now, Completions& done);
    void HandleNameService(std::span<const std::uint8_t> bytes, const UdpSource& from,
                           Completions& done);
    void HandleDatagram(std::span<const std::uint8_t> bytes, const UdpSource& from);
    // Connections and their session requests (stack_incoming.cpp).
    void AcceptOne(int listener, Accepted& a) const;
    // Under the lock: answers, queues or keeps what AcceptOne took.
    void TakeAccepted(Accepted& a, Clock::time_point now);
    // Reads what has arrived of the session request on the connection, touching nothing else.
    static RequestState ReadRequest(Incoming& in, std::optional<wire::SessionRequest>& request);
    // Reads what has arrived of the session request; false once the connection is dealt with.
    bool ReadIncoming(Incoming& in, Completions& done);
    // Acts on what ReadRequest found; false once the connection is dealt with.
    bool Settle(Incoming& in, RequestState state,
                const std::optional<wire::SessionRequest>& request, Completions& done);
    void HandleSessionRequest(Incoming& in, const wire::SessionRequest& request, Completions& done);
    Lana* LanaForPacket(const UdpSource& from);
    Lana* LanaForAddress(std::uint32_t address);
    const Lana* LanaForAddress(std::uint32_t address) const;
    bool IsOwnNameServicePacket(const UdpSource& from) const;
    bool IsComputerName(const NetbiosName& name) const;

    const Config config_;
    const std::string computer_name_;  // upper case, OEM

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // any state a blocked caller waits for
    bool stopping_ = false;
    platform::Event wake_{platform::Event::Mode::AutoReset};
    std::thread thread_;
    std::thread::id thread_id_;
    std::deque<std::pair<std::function<void()>, std::shared_ptr<bool>>> tasks_;
    Completions deferred_;  // completed under the lock by work handed to the thread

    UniqueFd name_socket_;
    UniqueFd datagram_socket_;
    UniqueFd session_listener_;
    std::vector<BindProblem> bind_problems_;
    std::vector<BindProblem> reported_problems_;
    Clock::time_point next_bind_try_;
    Clock::time_point next_interface_scan_;
    // Where it works, the interfaces are listed again only when it says they changed.
    InterfaceWatch interface_watch_;
    Clock::time_point accept_paused_until_;
    std::chrono::milliseconds accept_pause_{0};

    LanaNumbers lana_numbers_;
    std::map<std::uint8_t, Lana> lanas_;
    // The session table has its own lock, taken after mutex_ when both are needed, so that the
    // per-session commands of the listening threads never wait for the stack's thread.
    SessionTable sessions_;
    // Read without the lock by the per-session commands and the port checks.
    std::array<std::atomic<bool>, 256> lana_present_{};
    std::atomic<bool> name_bound_{false};
    std::atomic<bool> datagram_bound_{false};
    std::atomic<bool> session_bound_{false};
    // The connections of incoming_ and queued_, by id. A connection leaves it the moment it leaves
    // those lists, whichever thread takes it, so the stack's thread never wakes for a connection
    // handed on meanwhile.
    UniqueFd connections_;
    std::deque<Incoming> incoming_;
    std::deque<Queued> queued_;
    std::map<std::uint32_t, Clock::time_point> overran_;  // address -> until when
    mutable std::mutex handed_over_mutex_;
    std::vector<HandedOver> handed_over_;  // under handed_over_mutex_
    LingeringSockets lingering_;
    std::vector<Repeated> repeated_;
    std::map<std::uint16_t, Query> queries_;
    MailslotDelivery delivery_;
    std::uint16_t next_transaction_id_;
    std::uint16_t next_datagram_id_;
    std::uint64_t next_generation_ = 1;
    std::uint64_t next_connection_id_ = 1;
};

}  // namespace platform::netbios
