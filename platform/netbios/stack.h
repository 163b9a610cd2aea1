#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/netbios/ncb.h"

// The NetBIOS-over-TCP/IP stack behind Netbios(): a broadcast (B) node with the name service on
// UDP 137, the datagram service on UDP 138 and the session service on TCP 139. One LANA stands for
// each IPv4 interface that is up. A stack runs one thread that polls its sockets; commands are
// submitted from any number of threads.
namespace platform::netbios {

// A port the stack could not bind: the port number and the errno of the failed bind.
struct BindProblem {
    std::uint16_t port = 0;
    int error = 0;

    bool operator==(const BindProblem&) const = default;
};

// "port 139: permission denied (needs CAP_NET_BIND_SERVICE)", "port 137: in use by nmbd (pid
// 812)" (or "by another program" when the holder cannot be seen), or the system's text for other
// errors.
std::string DescribeBindProblem(const BindProblem& problem);

class Stack {
  public:
    struct Config {
        // The name datagrams to this computer are addressed to; empty: this computer's name.
        std::string computer_name;
        std::uint16_t name_port = 137;
        std::uint16_t datagram_port = 138;
        std::uint16_t session_port = 139;
        // Interfaces to use by name ("lo", "eth0"); empty: every IPv4 interface that is up. The
        // ports are bound on every local address; what arrives from other interfaces is ignored.
        std::vector<std::string> interfaces;
        // Broadcast registration: requests sent, and the wait after each.
        int registration_retries = 3;
        std::chrono::milliseconds registration_interval{250};
        // A session whose peer sends nothing for this long is ended.
        std::chrono::milliseconds session_idle{30000};
        // Session requests for a held name with no listen pending wait this long, at most this
        // many per name, for the next listen. When the queue is full, the newest request of the
        // address that holds most of it is refused (0x83) rather than the newcomer, unless the
        // newcomer's address holds as many.
        std::chrono::milliseconds listen_wait{8000};
        std::size_t listen_queue = 64;
        // Bounds against hostile or broken peers. A new connection has session_request_wait to
        // send its session request; at most max_incoming connections wait for theirs, at most
        // max_incoming_per_address from one address; past either bound the oldest connection of
        // the address holding most is refused, never the newcomer. A session taken by a listen
        // that is still open conversation_limit after its positive response is ended as soon as
        // another sender waits for its name (0: never), so that one sender can hold a name for
        // seconds, not for good; listen_wait is longer than that, so that the senders queued
        // behind it are still served.
        std::chrono::milliseconds session_request_wait{3000};
        std::size_t max_incoming = 256;
        std::size_t max_incoming_per_address = 32;
        std::chrono::milliseconds conversation_limit{2000};
        // A session message above this ends its session: nothing buffers it.
        std::size_t max_session_message = 64 * 1024;
        // Mailslot writes from the network: data above this is dropped; datagrams the local
        // mailslot cannot take yet wait in a queue of this many per mailslot.
        std::size_t max_mailslot_data = 400;
        std::size_t mailslot_backlog = 1024;
        // How often ports that could not be bound are tried again (commands that need them
        // also try at once).
        std::chrono::milliseconds rebind_interval{3000};
        // How often the interfaces are looked at again between adapter enumerations.
        std::chrono::milliseconds interface_scan_interval{2000};
        // Sockets already bound to the name, datagram and session ports (handed over by the
        // service manager), taken over instead of binding; -1: bind here.
        int name_socket = -1;
        int datagram_socket = -1;
        int session_socket = -1;
        // Names each adapter holds until an NCBRESET sets another number.
        std::size_t names_per_lana = 8;
        // Where a mailslot write from the network goes, for a process that serves several
        // programs: the local mailslots to write it to (none: dropped). Given the adapter, the
        // datagram's destination and whether it is addressed to one holder of a unique name
        // other than the computer's. Runs on the stack's thread: it must not wait. Unset: the
        // local mailslot of the name written to.
        std::function<std::vector<std::string>(std::uint8_t lana,
                                               const std::array<std::uint8_t, 16>& destination,
                                               bool to_unique_name, std::string_view mailslot)>
            route_mailslot;
        // Called with the ports that cannot be bound: from the constructor when there are any, then
        // on the stack's thread whenever the set changes (an empty set once all are bound).
        std::function<void(const std::vector<BindProblem>&)> on_bind_problems;
    };

    // An adapter as the stack sees it, for diagnostics and tests.
    struct Adapter {
        std::uint8_t lana = 0;
        std::string interface;
        std::uint32_t address = 0;    // host byte order
        std::uint32_t broadcast = 0;  // the address broadcasts go to
        bool loopback = false;
    };

    // Starts the stack's thread and binds the ports (a port that cannot be bound is retried).
    Stack();
    explicit Stack(Config config);
    // Ends pending commands (with NRC_SYSTEM), aborts sessions and stops the thread.
    ~Stack();
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    // Carries out one command; see Netbios().
    std::uint8_t Submit(NCB* ncb);

    std::vector<BindProblem> BindProblems() const;
    std::vector<Adapter> Adapters() const;

    // Writes one mailslot datagram ("write mailslot" transaction) from the LANA: to every node
    // when computer_or_star is "*" (a broadcast datagram), else to that computer (resolved by a
    // broadcast query). False when the LANA, the datagram port or the computer is not there, or
    // the data is too long. From kEveryAdapter: from each adapter but loopback (loopback alone
    // when there is no other), so that this computer, which hears its own broadcasts on each
    // interface, gets one copy as every other computer does; true when any went out.
    static constexpr std::uint8_t kEveryAdapter = 0xFF;
    bool WriteMailslot(std::uint8_t lana, std::string_view computer_or_star,
                       std::string_view mailslot, std::span<const std::uint8_t> data);

    // Takes an established session out of the stack and returns its socket (the caller owns it)
    // for another process to carry on; -1 when there is no such session or it has been used.
    int DetachSession(std::uint8_t lana, std::uint8_t lsn);

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The stack Netbios() uses. Tests and benchmarks install their own (or null to go back to the
// automatic choice of machine_service.h). ProcessStack() makes that choice when none is made yet
// and is null while commands go to the machine's NetBIOS service.
void SetProcessStack(std::shared_ptr<Stack> stack);
std::shared_ptr<Stack> ProcessStack();

}  // namespace platform::netbios
