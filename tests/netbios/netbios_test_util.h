#pragma once

#include <arpa/inet.h>
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
#include <vector>

#include "platform/netbios/ncb.h"
#include "platform/netbios/stack.h"
#include "platform/netbios/wire/name.h"
#include "platform/netbios/wire/session.h"
#include "platform/sync/event.h"
#include "tests/support/network_namespace.h"

// Helpers for driving a stack through control blocks and for talking to it as a raw peer.
namespace nbtest {

namespace nb = platform::netbios;
namespace wire = platform::netbios::wire;

inline nb::NCB Ncb(std::uint8_t command, std::uint8_t lana, std::string_view name = {},
                   std::uint8_t suffix = 0x03) {
    nb::NCB ncb;
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    std::memset(ncb.ncb_name, ' ', nb::NCBNAMSZ);
    std::memset(ncb.ncb_callname, ' ', nb::NCBNAMSZ);
    if (!name.empty()) {
        auto n = wire::MakeName(name, suffix);
        std::memcpy(ncb.ncb_name, n.data(), n.size());
    }
    return ncb;
}

inline void SetCallName(nb::NCB& ncb, std::string_view name, std::uint8_t suffix) {
    auto n = wire::MakeName(name, suffix);
    std::memcpy(ncb.ncb_callname, n.data(), n.size());
}

// A stack on the given interfaces with short bounds, so tests finish quickly.
inline nb::Stack::Config TestConfig(std::vector<std::string> interfaces = {"lo"}) {
    // A stack binds the real NetBIOS ports: only ever inside the test's own namespace.
    if (!tolvane::test::InPrivateNetworkNamespace()) {
        std::abort();
    }
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

// A session service peer on a plain TCP socket.
class RawPeer {
  public:
    RawPeer() = default;
    ~RawPeer() { Close(); }
    RawPeer(RawPeer&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}

    bool Connect(std::uint32_t address, std::uint16_t port = 139) {
        if (!tolvane::test::InPrivateNetworkNamespace()) {
            std::abort();
        }
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    bool SendBytes(const std::vector<std::uint8_t>& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    bool SendMessage(const std::vector<std::uint8_t>& body) {
        auto h = wire::EncodeSessionHeader(wire::session_type::kMessage,
                                           static_cast<std::uint32_t>(body.size()));
        std::vector<std::uint8_t> all(h.size() + body.size());
        std::copy(h.begin(), h.end(), all.begin());
        std::copy(body.begin(), body.end(), all.begin() + static_cast<std::ptrdiff_t>(h.size()));
        return SendBytes(all);
    }
    bool SendRequest(std::string_view called, std::uint8_t suffix = 0x03,
                     std::string_view calling = "PEER") {
        return SendBytes(
            wire::EncodeSessionRequest(wire::MakeName(called, suffix), wire::MakeName(calling, 0)));
    }
    // The answer to a session request: its packet type and, for a negative one, its code.
    std::optional<std::pair<std::uint8_t, std::uint8_t>> ReadAnswer(int timeout_ms = 5000) {
        auto header = ReadExactly(4, timeout_ms);
        if (!header) {
            return std::nullopt;
        }
        std::uint8_t code = 0;
        if ((*header)[3] > 0) {
            auto rest = ReadExactly((*header)[3], timeout_ms);
            if (!rest) {
                return std::nullopt;
            }
            code = (*rest)[0];
        }
        return std::make_pair((*header)[0], code);
    }
    std::optional<std::pair<std::uint8_t, std::uint8_t>> Request(
        std::string_view called, std::uint8_t suffix = 0x03, std::string_view calling = "PEER") {
        if (!SendRequest(called, suffix, calling)) {
            return std::nullopt;
        }
        return ReadAnswer();
    }
    std::optional<std::vector<std::uint8_t>> ReadExactly(std::size_t n, int timeout_ms = 5000) {
        std::vector<std::uint8_t> out(n);
        std::size_t have = 0;
        while (have < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, timeout_ms) <= 0) {
                return std::nullopt;
            }
            const ssize_t r = ::recv(fd_, out.data() + have, n - have, 0);
            if (r <= 0) {
                return std::nullopt;
            }
            have += static_cast<std::size_t>(r);
        }
        return out;
    }
    // One session message's body.
    std::optional<std::vector<std::uint8_t>> ReadMessage(int timeout_ms = 5000) {
        auto h = ReadExactly(4, timeout_ms);
        if (!h || (*h)[0] != 0) {
            return std::nullopt;
        }
        const std::size_t len =
            static_cast<std::size_t>(((*h)[1] & 1) << 16 | (*h)[2] << 8 | (*h)[3]);
        return len ? ReadExactly(len, timeout_ms) : std::vector<std::uint8_t>{};
    }
    // True when the peer closed (end of stream or reset) within the time.
    bool WaitClosed(int timeout_ms = 5000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) {
            return false;
        }
        std::uint8_t b;
        return ::recv(fd_, &b, 1, 0) <= 0;
    }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace nbtest

namespace nbtest {

// An asynchronous listen as the reception ports issue it, waited for with a bound.
struct AsyncListen {
    platform::Event done{platform::Event::Mode::ManualReset};
    nb::NCB ncb;
    std::uint8_t submitted = 0;

    AsyncListen(nb::Stack& stack, std::uint8_t lana, std::string_view name) {
        ncb = Ncb(nb::NCBLISTEN | nb::ASYNCH, lana, name);
        std::memset(ncb.ncb_callname, ' ', nb::NCBNAMSZ);
        ncb.ncb_callname[0] = '*';
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

// A UDP peer on an ephemeral port.
class RawUdp {
  public:
    RawUdp() {
        // A socket made outside the test's namespace would talk to the machine's own network.
        if (!tolvane::test::InPrivateNetworkNamespace()) {
            std::abort();
        }
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~RawUdp() { ::close(fd_); }
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;

    bool SendTo(std::uint32_t address, std::uint16_t port, const std::vector<std::uint8_t>& data) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address);
        return ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a),
                        sizeof a) == static_cast<ssize_t>(data.size());
    }
    std::optional<std::vector<std::uint8_t>> Receive(int timeout_ms = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> out(2048);
        const ssize_t n = ::recv(fd_, out.data(), out.size(), 0);
        if (n < 0) {
            return std::nullopt;
        }
        out.resize(static_cast<std::size_t>(n));
        return out;
    }

  private:
    int fd_ = -1;
};

}  // namespace nbtest
