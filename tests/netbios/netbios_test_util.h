#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/netbios/ncb.h"
#include "platform/netbios/stack.h"
#include "platform/netbios/wire/name.h"
#include "platform/netbios/wire/session.h"
#include "platform/sync/event.h"
#include "tests/pdu/wire_bytes.h"
#include "tests/support/network_namespace.h"

// Driving a stack through control blocks, and talking to a node as a raw peer. Sockets here are
// made only inside the test's own network namespace.
namespace nbtest {

namespace nb = platform::netbios;
namespace wire = platform::netbios::wire;

inline void RequireNamespace() {
    if (!tolvane::test::InPrivateNetworkNamespace()) {
        std::abort();
    }
}

// A control block with both name fields set (a listen's from any caller).
inline nb::NCB Ncb(std::uint8_t command, std::uint8_t lana, std::string_view name = {},
                   std::uint8_t suffix = 0x03) {
    nb::NCB ncb;
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    std::memset(ncb.ncb_callname, ' ', nb::NCBNAMSZ);
    const auto n = wire::MakeName(name, suffix);
    std::memcpy(ncb.ncb_name, n.data(), n.size());
    if ((command & ~nb::ASYNCH) == nb::NCBLISTEN) {
        ncb.ncb_callname[0] = '*';
    }
    return ncb;
}

// A stack on the given interfaces with short bounds, so tests finish quickly.
inline nb::Stack::Config TestConfig(std::vector<std::string> interfaces = {"lo"}) {
    RequireNamespace();
    nb::Stack::Config c;
    c.interfaces = std::move(interfaces);
    c.computer_name = "TESTHOST";
    c.registration_interval = std::chrono::milliseconds(100);
    c.listen_wait = std::chrono::milliseconds(3000);
    c.rebind_interval = std::chrono::milliseconds(200);
    return c;
}

inline std::uint8_t LanaOf(nb::Stack& stack, std::string_view interface) {
    for (const auto& a : stack.Adapters()) {
        if (a.interface == interface) {
            return a.lana;
        }
    }
    return 0xFF;
}

inline std::uint32_t Ipv4(const std::string& text) {
    in_addr a{};
    ::inet_pton(AF_INET, text.c_str(), &a);
    return ntohl(a.s_addr);
}

inline sockaddr_in Endpoint(std::uint32_t address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

inline Bytes SessionHeader(std::uint8_t type, std::uint32_t length) {
    const auto h = wire::EncodeSessionHeader(type, length);
    return Bytes(h.begin(), h.end());
}

// A session service peer on a plain TCP socket; every read is bounded in time.
class RawPeer {
  public:
    RawPeer() = default;
    ~RawPeer() { Close(); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool Connect(std::uint32_t address, std::uint16_t port = 139) {
        RequireNamespace();
        Close();
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a = Endpoint(address, port);
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    bool SendBytes(const Bytes& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool SendMessage(const Bytes& body) {
        return SendBytes(Concat(
            SessionHeader(wire::session_type::kMessage, static_cast<std::uint32_t>(body.size())),
            body));
    }
    bool SendRequest(std::string_view called, std::uint8_t suffix = 0x03,
                     std::string_view calling = "PEER") {
        return SendBytes(
            wire::EncodeSessionRequest(wire::MakeName(called, suffix), wire::MakeName(calling, 0)));
    }
    // The answer to a session request: its packet type and, for a negative one, its code.
    std::optional<std::pair<std::uint8_t, std::uint8_t>> ReadAnswer() {
        auto header = ReadExactly(4);
        auto rest = header && (*header)[3] > 0 ? ReadExactly((*header)[3]) : Bytes{0};
        if (!header || !rest) {
            return std::nullopt;
        }
        return std::make_pair((*header)[0], rest->at(0));
    }
    std::optional<std::pair<std::uint8_t, std::uint8_t>> Request(std::string_view called) {
        return SendRequest(called) ? ReadAnswer() : std::nullopt;
    }
    // Connects and asks for a session to called; whether it was granted.
    bool Session(std::uint32_t address, std::string_view called) {
        auto answer = Connect(address) ? Request(called) : std::nullopt;
        return answer && answer->first == wire::session_type::kPositive;
    }
    std::optional<Bytes> ReadExactly(std::size_t n) {
        Bytes out(n);
        for (std::size_t have = 0; have < n;) {
            pollfd p{fd_, POLLIN, 0};
            const ssize_t r =
                ::poll(&p, 1, 5000) > 0 ? ::recv(fd_, out.data() + have, n - have, 0) : -1;
            if (r <= 0) {
                return std::nullopt;
            }
            have += static_cast<std::size_t>(r);
        }
        return out;
    }
    // The next session message's body; keep-alives are skipped.
    std::optional<Bytes> ReadMessage() {
        for (;;) {
            auto h = ReadExactly(4);
            if (!h || ((*h)[0] != 0 && (*h)[0] != wire::session_type::kKeepAlive)) {
                return std::nullopt;
            }
            const std::size_t len = ((*h)[1] & 1u) << 16 | (*h)[2] << 8 | (*h)[3];
            auto body = len ? ReadExactly(len) : Bytes{};
            if (!body || (*h)[0] == 0) {
                return body;
            }
        }
    }
    // True when the peer closed (end of stream or reset) within the time.
    bool WaitClosed(int timeout_ms = 5000) {
        pollfd p{fd_, POLLIN, 0};
        std::uint8_t b;
        return ::poll(&p, 1, timeout_ms) > 0 && ::recv(fd_, &b, 1, MSG_PEEK) <= 0;
    }
    void Close() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }

  private:
    int fd_ = -1;
};

// A UDP peer, on an ephemeral port unless given one.
class RawUdp {
  public:
    explicit RawUdp(std::uint16_t port = 0) {
        RequireNamespace();
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in a = Endpoint(INADDR_ANY, port);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawUdp() { ::close(fd_); }
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;

    bool bound() const { return bound_; }
    bool SendTo(std::uint32_t address, std::uint16_t port, const Bytes& data) {
        sockaddr_in a = Endpoint(address, port);
        return ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a),
                        sizeof a) == static_cast<ssize_t>(data.size());
    }
    // The next datagram, and the address it came from.
    std::optional<Bytes> Receive(int timeout_ms = 2000, std::uint32_t* from = nullptr) {
        pollfd p{fd_, POLLIN, 0};
        Bytes out(2048);
        sockaddr_in sender{};
        socklen_t size = sizeof sender;
        const ssize_t n = ::poll(&p, 1, timeout_ms) > 0
                              ? ::recvfrom(fd_, out.data(), out.size(), 0,
                                           reinterpret_cast<sockaddr*>(&sender), &size)
                              : -1;
        if (n < 0) {
            return std::nullopt;
        }
        if (from != nullptr) {
            *from = ntohl(sender.sin_addr.s_addr);
        }
        out.resize(static_cast<std::size_t>(n));
        return out;
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

// An asynchronous listen as the reception ports issue it, waited for with a bound.
struct AsyncListen {
    platform::Event done{platform::Event::Mode::ManualReset};
    nb::NCB ncb;
    std::uint8_t submitted = 0;

    AsyncListen(nb::Stack& stack, std::uint8_t lana, std::string_view name) {
        ncb = Ncb(nb::NCBLISTEN | nb::ASYNCH, lana, name);
        ncb.ncb_event = &done;
        submitted = stack.Submit(&ncb);
    }
    // True once completed; the control block's fields are then ours to read.
    bool Wait(int ms = 5000) {
        platform::Event* e[] = {&done};
        if (platform::WaitAny(e, ms) != 0) {
            return false;
        }
        done.Clear();  // reading the event orders the stack's writes before ours
        return true;
    }
};

// A receive, send or hang-up on a session; a receive's buffer is cut to what came.
inline std::uint8_t OnSession(nb::Stack& stack, std::uint8_t command, std::uint8_t lana,
                              std::uint8_t lsn, Bytes* buffer = nullptr) {
    auto ncb = Ncb(command, lana, "X");
    ncb.ncb_lsn = lsn;
    if (buffer != nullptr) {
        ncb.ncb_buffer = buffer->data();
        ncb.ncb_length = static_cast<std::uint16_t>(buffer->size());
    }
    const std::uint8_t code = stack.Submit(&ncb);
    if (buffer != nullptr && command == nb::NCBRECV) {
        buffer->resize(ncb.ncb_length);
    }
    return code;
}

// A stack on loopback in the test's own namespace, and commands for its adapter.
class LoopbackStack : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!tolvane::test::EnterPrivateNetworkNamespace()) {
            GTEST_SKIP() << "needs a private network namespace (root)";
        }
        udp_.emplace();
    }
    void Start(nb::Stack::Config config = TestConfig()) {
        stack_ = std::make_unique<nb::Stack>(std::move(config));
        lana_ = LanaOf(*stack_, "lo");
        ASSERT_NE(lana_, 0xFF);
    }
    std::uint8_t Submit(std::uint8_t command, std::string_view name = {}, std::uint8_t lsn = 0) {
        auto ncb = Ncb(command, lana_, name);
        ncb.ncb_lsn = lsn;
        return stack_->Submit(&ncb);
    }

    std::unique_ptr<nb::Stack> stack_;
    std::uint8_t lana_ = 0xFF;
    std::optional<RawUdp> udp_;  // made inside the namespace
    const std::uint32_t loopback_ = Ipv4("127.0.0.1");
};

}  // namespace nbtest
