#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/machine_service/protocol.h"
#include "platform/netbios/ncb.h"
#include "platform/netbios/session.h"
#include "platform/netbios/socket.h"
#include "platform/netbios/stack.h"
#include "platform/sync/event.h"
#include "tools/netbiosd/server/channel.h"
#include "tools/netbiosd/server/datagram_routes.h"
#include "tools/netbiosd/server/log_limiter.h"
#include "tools/netbiosd/server/name_policy.h"
#include "tools/netbiosd/server/relay.h"
#include "tools/netbiosd/server/worker_pool.h"

// The NetBIOS service: serves Netbios() to the programs of this machine over a local socket, on
// the one stack it owns. A user's name belongs to the program that added it (another gets the
// duplicate-name code) and goes with that program; a session to it, once up, is handed to that
// program, socket and all. What every user shares, the computer's messenger name and the
// mailslots, the service holds itself while any program wants them: each program that listens on
// the computer's name gets its own stream of each caller's session (see Relay), each program that
// opens a mailslot its own copy of what arrives for it (see DatagramRoutes). Programs are counted
// by person: uids without an account share one small pool. Every share is bounded; a program that
// breaks the protocol or does not take its replies is cut off alone.
namespace platform::netbios::service {

class Server {
  public:
    // Each program's share. A program holds two names and a listen for each per adapter: these
    // leave room for some 30 adapters.
    struct Limits {
        // Programs of accounts; past it, an account with fewer than guaranteed programs (root
        // among them) still gets in, up to clients + reserve.
        std::size_t clients = 256;
        std::size_t clients_per_user = 32;
        std::size_t guaranteed = 4;
        std::size_t reserve = 64;
        // Programs of uids without an account (subordinate uids, other namespaces), all together.
        std::size_t pool = 16;
        // Programs whose user is being looked up: per uid and in all.
        std::size_t unknown_per_uid = 4;
        std::size_t unknown = 32;
        // Sessions to the computer's name carried on for several programs at once, and the
        // programs each carries (listens beyond it wait for the next caller).
        std::size_t relays = 16;
        std::size_t programs_per_relay = 64;
        std::size_t names = 64;     // per program, held or being added
        std::size_t pending = 128;  // commands of a program not yet answered
        std::size_t running = 8;    // of those, waiting on the network at once
        std::size_t mailslots = 4;  // per program
        std::size_t replies = 256;  // answers queued for a program that does not read them
        std::size_t workers = 16;
    };
    struct Options {
        // This computer's name as the stack answers to it, in its wire form.
        std::string computer_name;
        Limits limits;
        // What the stack's sessions run under; sessions handed over are told the same.
        Session::Limits sessions;
        // One line for the log: programs cut off and refused.
        std::function<void(const std::string&)> log;
        // The routes the stack's Config::route_mailslot reads; made here when not given (the
        // stack then delivers nothing to the programs' mailslots).
        std::shared_ptr<DatagramRoutes> routes;
    };

    // Serves on listener (a listening sequenced-packet socket) until destroyed.
    Server(Stack& stack, UniqueFd listener, Options options);
    // Drops every program's names and mailslots; returns once no command is running any more.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::size_t ClientCount() const;

    struct PendingListen;

  private:
    // Whom a program counts against.
    enum class Kind { Unknown, Account, Pool };
    struct Client {
        std::uint64_t id = 0;
        std::shared_ptr<Channel> channel;
        pid_t pid = 0;
        uid_t uid = 0;
        Kind kind = Kind::Unknown;
        std::optional<NamePolicy> policy;  // known once the user database answered
        std::size_t pending = 0;
        std::size_t running = 0;
        std::deque<std::function<void()>> waiting;  // work past the running bound
        std::map<std::string, std::shared_ptr<platform::mailslot::Lease>> mailslots;
        std::vector<wire::NetbiosName> refused;  // logged once each, the first few
    };
    using NameKey = std::pair<std::uint8_t, wire::NetbiosName>;
    // The computer's messenger name, held by the service for the programs that added it.
    struct Shared {
        std::set<std::uint64_t> holders;
        bool held = false;
        std::uint8_t num = 0;
        std::uint64_t token = 0;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> adding;   // answered once registered
        std::vector<std::pair<std::uint64_t, std::uint32_t>> listens;  // waiting for a caller
        std::set<std::uint64_t> listened;       // programs that listen on it, waited for a moment
        PendingListen* stack_listen = nullptr;  // the service's own, on the stack
        std::chrono::steady_clock::time_point ready_by{};  // when the next caller is taken anyway
    };
    struct ListenEntry {
        std::unique_ptr<PendingListen> listen;
        std::shared_ptr<Channel> channel;  // kept for the completion, which writes to it
    };
    struct Owner {
        std::uint64_t client = 0;
        bool held = false;        // false while being added
        std::uint64_t token = 0;  // tells this adding from an earlier one of the same name
    };
    // What one wait of the service's thread watches: the wake-up event and the listener, the
    // programs by id, then from relays_from on the descriptors of the first relays.
    struct PollSet {
        std::vector<pollfd> fds;
        std::vector<std::uint64_t> ids;  // for each program's descriptor
        std::size_t relays_from = 0;
        std::size_t relays = 0;
    };
    void Run();
    void CutOffBroken();
    // Fills the set; returns the poll timeout.
    int FillPollSet(PollSet& set) const;
    void ServeClients(const PollSet& set);
    void ServeRelays(const PollSet& set);
    void Accept();
    enum class ReadResult { Read, Gone, Garbage };
    // Reads and handles what the program sent.
    ReadResult ReadRequests(Client& client);
    void CutOff(std::uint64_t id, const std::string& why);
    void Handle(Client& client, const Request& request);
    void HandleCommand(Client& client, const Request& request);
    void OpenMailslot(Client& client, const Request& request);
    void WriteMailslot(Client& client, const Request& request);
    // Answers one request: the reply (and a socket handed over with it) goes out at once.
    void Answer(std::uint64_t client, const Reply& reply, UniqueFd fd = {});
    void Answer(Client& client, std::uint32_t id, std::uint8_t code);
    // A reply that hands over a session: its number and the bounds it runs under.
    Reply SessionReply(std::uint32_t id, std::uint8_t lsn) const;
    // Runs work that waits on the network on a worker, within the program's running bound; done
    // then runs on the service's thread.
    void RunForClient(Client& client, std::function<void()> work);
    void FinishRunning(std::uint64_t client);
    void AddName(Client& client, const Request& request);
    // Answers an add the program's name policy does not allow, with the reason, logged once.
    void RefuseName(Client& client, const Request& request);
    // The stack's answer to an add: the name is the program's now, unless it was deleted or its
    // program went meanwhile.
    void NameAdded(std::uint64_t client, const NameKey& key, std::uint64_t token,
                   std::uint32_t request_id, std::uint8_t code, std::uint8_t num);
    std::uint8_t DeleteName(Client& client, std::uint8_t lana, const wire::NetbiosName& name);
    void DeleteFromStack(std::uint8_t lana, const wire::NetbiosName& name);
    void Listen(Client& client, const Request& request);
    void Call(Client& client, const Request& request);
    void Enumerate(Client& client, const Request& request);
    // The computer's messenger name (shared.cpp).
    bool IsShared(const wire::NetbiosName& name) const;
    void AddShared(Client& client, const Request& request);
    std::uint8_t DeleteShared(Client& client, const NameKey& key);
    void ListenShared(Client& client, const Request& request);
    // Puts the service's own listen on the stack once the programs that listen are ready.
    void ListenOnStack(const NameKey& key);
    void SharedListenDone(PendingListen* listen, std::uint8_t code, UniqueFd session,
                          const wire::NetbiosName& caller, std::uint8_t num);
    // Drops the name on the stack and fails what waits on it.
    void DropShared(const NameKey& key, std::uint8_t code);
    std::optional<std::chrono::steady_clock::time_point> NextSharedDeadline() const;
    // Admission (admission.cpp): whether one more program of that kind and uid may be served.
    bool Admits(Kind kind, uid_t uid, std::uint64_t except = 0) const;
    void Classify(std::uint64_t id, const std::optional<Account>& account);
    void LogRefusal(uid_t uid, const std::string& line);
    // A listen completed (on the stack's thread, or this one): the answer goes out from there.
    static void ListenPosted(NCB* ncb);
    void ListenDone(PendingListen* listen);
    // Queues fn for the service's thread (from workers and completions), waking it or not.
    void Post(std::function<void()> fn, bool wake = true);
    // Runs what was posted; false once the service stops.
    bool RunPosted();
    Client* Find(std::uint64_t id);
    void Log(const std::string& line) const;

    Stack& stack_;
    UniqueFd listener_;
    const Options options_;
    std::unique_ptr<WorkerPool> workers_;

    // Only the service's thread touches these.
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
    std::map<NameKey, Owner> owners_;
    std::map<NameKey, Shared> shared_;
    std::vector<std::unique_ptr<Relay>> relays_;
    std::shared_ptr<DatagramRoutes> routes_;
    wire::NetbiosName shared_name_{};
    mutable LogLimiter refusals_;
    std::map<PendingListen*, ListenEntry> listens_;
    std::uint64_t next_client_ = 1;
    std::uint64_t next_token_ = 1;
    // Accepting paused while the service is out of descriptors or memory.
    std::chrono::steady_clock::time_point accept_paused_until_{};

    mutable std::mutex posted_mutex_;
    std::deque<std::function<void()>> posted_;
    std::size_t client_count_ = 0;  // under posted_mutex_, for ClientCount
    bool stopping_ = false;         // under posted_mutex_
    platform::Event wake_{platform::Event::Mode::AutoReset};
    std::thread thread_;
};

}  // namespace platform::netbios::service
