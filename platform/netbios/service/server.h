#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/mailslot/mailslot.h"
#include "platform/netbios/ncb.h"
#include "platform/netbios/service/channel.h"
#include "platform/netbios/service/name_policy.h"
#include "platform/netbios/service/protocol.h"
#include "platform/netbios/service/worker_pool.h"
#include "platform/netbios/session.h"
#include "platform/netbios/socket.h"
#include "platform/netbios/stack.h"
#include "platform/sync/event.h"

// The NetBIOS service: serves Netbios() to the programs of this machine over a local socket, on
// the one stack it owns. A name belongs to the program that added it (another gets the
// duplicate-name code) and goes with that program; a session, once up, is handed to the program
// that listened or called, socket and all; mailslots are made here, where network mailslot writes
// arrive, and their read ends handed over. Every program's share is bounded; one that breaks the
// protocol or does not take its replies is cut off alone.
namespace platform::netbios::service {

class Server {
  public:
    // Each program's share. A program holds two names and a listen for each per adapter: these
    // leave room for some 30 adapters.
    struct Limits {
        std::size_t clients = 256;
        std::size_t clients_per_user = 32;
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
    struct Client {
        std::uint64_t id = 0;
        std::shared_ptr<Channel> channel;
        pid_t pid = 0;
        uid_t uid = 0;
        std::optional<NamePolicy> policy;  // known once the user database answered
        std::size_t pending = 0;
        std::size_t running = 0;
        std::deque<std::function<void()>> waiting;  // work past the running bound
        std::map<std::string, std::shared_ptr<platform::mailslot::Lease>> mailslots;
        std::vector<wire::NetbiosName> refused;  // logged once each, the first few
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
    using NameKey = std::pair<std::uint8_t, wire::NetbiosName>;

    void Run();
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
    std::uint8_t DeleteName(Client& client, std::uint8_t lana, const wire::NetbiosName& name);
    void DeleteFromStack(std::uint8_t lana, const wire::NetbiosName& name);
    void Listen(Client& client, const Request& request);
    void Call(Client& client, const Request& request);
    void Enumerate(Client& client, const Request& request);
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
    std::map<PendingListen*, ListenEntry> listens_;
    std::uint64_t next_client_ = 1;
    std::uint64_t next_token_ = 1;

    mutable std::mutex posted_mutex_;
    std::deque<std::function<void()>> posted_;
    std::size_t client_count_ = 0;  // under posted_mutex_, for ClientCount
    bool stopping_ = false;         // under posted_mutex_
    platform::Event wake_{platform::Event::Mode::AutoReset};
    std::thread thread_;
};

}  // namespace platform::netbios::service
