#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
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
#include "tests/support/network_namespace.h"

// Driving a stack through control blocks, and talking to a node as a raw peer. Sockets here are
// made only inside the test's own network namespace.
namespace nbtest {

namespace nb = platform::netbios;
namespace wire = platform::netbios::wire;
using Bytes = std::vector<std::uint8_t>;

inline void RequireNamespace() {
    if (!tolvane::test::InPrivateNetworkNamespace()) {
        std::abort();
    }
}

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
    if ((command & ~nb::ASYNCH) == nb::NCBLISTEN) {
        ncb.ncb_callname[0] = '*';
    }
    return ncb;
}

inline void SetCallName(nb::NCB& ncb, std::string_view name, std::uint8_t suffix) {
    auto n = wire::MakeName(name, suffix);
    std::memcpy(ncb.ncb_callname, n.data(), n.size());
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

// SMB message units as senders write them: a zeroed header, words, bytes.
inline Bytes SmbUnit(std::uint8_t command, const std::vector<std::uint16_t>& words,
                     const Bytes& data) {
    Bytes u{0xFF, 'S', 'M', 'B', command};
    u.resize(32, 0);
    u.push_back(static_cast<std::uint8_t>(words.size()));
    for (auto w : words) {
        u.insert(u.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
    }
    u.insert(u.end(),
             {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)});
    u.insert(u.end(), data.begin(), data.end());
    return u;
}
namespace smb {
inline Bytes Names(const std::string& origin, const std::string& recipient) {
    Bytes d{4};
    d.insert(d.end(), origin.begin(), origin.end());
    d.insert(d.end(), {0, 4});
    d.insert(d.end(), recipient.begin(), recipient.end());
    d.push_back(0);
    return d;
}
inline Bytes Block(const std::string& text) {
    Bytes d{1, static_cast<std::uint8_t>(text.size()), static_cast<std::uint8_t>(text.size() >> 8)};
    d.insert(d.end(), text.begin(), text.end());
    return d;
}
inline Bytes SingleBlock(const std::string& origin, const std::string& recipient,
                         const std::string& text) {
    Bytes d = Names(origin, recipient);
    const Bytes b = Block(text);
    d.insert(d.end(), b.begin(), b.end());
    return SmbUnit(0xD0, {}, d);
}
inline Bytes Start(const std::string& origin, const std::string& recipient) {
    return SmbUnit(0xD5, {}, Names(origin, recipient));
}
inline Bytes Text(std::uint16_t group, const std::string& text) {
    return SmbUnit(0xD7, {group}, Block(text));
}
inline Bytes End(std::uint16_t group) {
    return SmbUnit(0xD6, {group}, {});
}
}  // namespace smb

// A session service peer on a plain TCP socket; every read is bounded in time.
class RawPeer {
  public:
    RawPeer() = default;
    ~RawPeer() { Close(); }
    RawPeer(RawPeer&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}

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
        Bytes all =
            SessionHeader(wire::session_type::kMessage, static_cast<std::uint32_t>(body.size()));
        all.insert(all.end(), body.begin(), body.end());
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
        auto rest = (*header)[3] > 0 ? ReadExactly((*header)[3], timeout_ms) : Bytes{0};
        if (!rest) {
            return std::nullopt;
        }
        return std::make_pair((*header)[0], (*header)[3] > 0 ? (*rest)[0] : std::uint8_t{0});
    }
    std::optional<std::pair<std::uint8_t, std::uint8_t>> Request(
        std::string_view called, std::uint8_t suffix = 0x03, std::string_view calling = "PEER") {
        return SendRequest(called, suffix, calling) ? ReadAnswer() : std::nullopt;
    }
    // Whether a session request for called is answered positively.
    bool Session(std::uint32_t address, std::string_view called) {
        auto answer = Connect(address) ? Request(called) : std::nullopt;
        return answer && answer->first == wire::session_type::kPositive;
    }
    std::optional<Bytes> ReadExactly(std::size_t n, int timeout_ms = 5000) {
        Bytes out(n);
        for (std::size_t have = 0; have < n;) {
            pollfd p{fd_, POLLIN, 0};
            const ssize_t r =
                ::poll(&p, 1, timeout_ms) > 0 ? ::recv(fd_, out.data() + have, n - have, 0) : -1;
            if (r <= 0) {
                return std::nullopt;
            }
            have += static_cast<std::size_t>(r);
        }
        return out;
    }
    // The next session message's body; keep-alives are skipped.
    std::optional<Bytes> ReadMessage(int timeout_ms = 5000) {
        for (;;) {
            auto h = ReadExactly(4, timeout_ms);
            if (!h || ((*h)[0] != 0 && (*h)[0] != wire::session_type::kKeepAlive)) {
                return std::nullopt;
            }
            const std::size_t len = ((*h)[1] & 1u) << 16 | (*h)[2] << 8 | (*h)[3];
            auto body = len ? ReadExactly(len, timeout_ms) : Bytes{};
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
    int fd() const { return fd_; }

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
    // The next datagram and its sender's address and port.
    std::optional<Bytes> Receive(int timeout_ms = 2000, sockaddr_in* from = nullptr) {
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
            *from = sender;
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

// A message server on the control block interface, as the reception ports use it: registers a
// name, then serves one session at a time, answering every SMB unit with an empty reply of its
// command until the sender is done.
class MessageListener {
  public:
    MessageListener(nb::Stack& stack, std::uint8_t lana, std::string name)
        : stack_(stack), lana_(lana), name_(std::move(name)) {}
    ~MessageListener() { Stop(); }

    std::uint8_t Start() {
        auto add = Ncb(nb::NCBADDNAME, lana_, name_);
        const std::uint8_t code = stack_.Submit(&add);
        if (code == nb::NRC_GOODRET) {
            thread_ = std::thread([this] { Serve(); });
        }
        return code;
    }
    void Stop() {
        if (thread_.joinable()) {
            stop_ = true;
            auto del = Ncb(nb::NCBDELNAME, lana_, name_);
            stack_.Submit(&del);
            thread_.join();
        }
    }
    bool WaitForSessions(int n, int timeout_ms = 10000) {
        for (int waited = 0; served_ < n && waited < timeout_ms; waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return served_ >= n;
    }

  private:
    std::uint8_t Submit(std::uint8_t command, std::uint8_t lsn, Bytes* buffer = nullptr) {
        auto ncb = Ncb(command, lana_, name_);
        ncb.ncb_lsn = lsn;
        if (buffer != nullptr) {
            ncb.ncb_buffer = buffer->data();
            ncb.ncb_length = static_cast<std::uint16_t>(buffer->size());
        }
        const std::uint8_t code = stack_.Submit(&ncb);
        if (buffer != nullptr) {
            buffer->resize(ncb.ncb_length);
        }
        return code;
    }
    void Serve() {
        while (!stop_) {
            AsyncListen listen(stack_, lana_, name_);
            listen.Wait(platform::kInfinite);
            if (listen.ncb.ncb_retcode != nb::NRC_GOODRET) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const std::uint8_t lsn = listen.ncb.ncb_lsn;
            for (;;) {
                Bytes unit(1024);
                if (Submit(nb::NCBRECV, lsn, &unit) != nb::NRC_GOODRET || unit.size() < 35) {
                    break;
                }
                std::vector<std::uint16_t> group;
                if (unit[4] == 0xD5) {
                    group.push_back(1);
                }
                Bytes reply = SmbUnit(unit[4], group, {});
                Submit(nb::NCBSEND, lsn, &reply);
                if (unit[4] == 0xD0 || unit[4] == 0xD6) {
                    break;
                }
            }
            Submit(nb::NCBHANGUP, lsn);
            ++served_;
        }
    }

    nb::Stack& stack_;
    const std::uint8_t lana_;
    const std::string name_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> served_{0};
};

}  // namespace nbtest
