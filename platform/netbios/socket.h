#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

// Thin socket helpers for the stack: an owning descriptor, bound UDP and TCP sockets, and UDP
// sends and receives that carry the interface and the local address (IP_PKTINFO). Addresses are
// IPv4 in host byte order.
namespace platform::netbios {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Non-blocking UDP socket on the port of every local address, able to broadcast and reporting
// where each datagram arrived. Empty, with error set to errno, when it cannot be made.
UniqueFd BindUdp(std::uint16_t port, int& error);
// Non-blocking listening TCP socket on the port of every local address; its connections come
// without delay (TCP_NODELAY).
UniqueFd ListenTcp(std::uint16_t port, int& error);
// Non-blocking TCP socket, not yet connected.
UniqueFd NewTcpSocket();
// Sets TCP_NODELAY: session messages are requests and answers, never worth delaying.
void SetNoDelay(int fd);
// The poll timeout that ends at next: at most a minute, none once it passed, -1 (without end) for
// time_point::max().
int PollTimeout(std::chrono::steady_clock::time_point next);

struct UdpSource {
    std::size_t size = 0;
    std::uint32_t address = 0;      // sender
    std::uint16_t port = 0;         // sender
    std::uint32_t destination = 0;  // the address the datagram was sent to
    int interface_index = 0;        // where it arrived
    bool truncated = false;
};

// One datagram into buffer; nullopt when none is waiting or the read failed.
std::optional<UdpSource> ReceiveUdp(int fd, std::span<std::uint8_t> buffer);
// Sends one datagram from the given local address, out of the given interface when
// interface_index is not 0 (broadcasts), else as routing decides.
bool SendUdp(int fd, std::span<const std::uint8_t> data, std::uint32_t to, std::uint16_t port,
             std::uint32_t from, int interface_index);

}  // namespace platform::netbios

namespace platform::netbios {

// Blocking-style I/O on a non-blocking socket, bounded by a deadline: false on error, end of
// stream or time-out.
bool SendAll(int fd, std::span<const std::uint8_t> data,
             std::chrono::steady_clock::time_point deadline);
bool ReceiveExactly(int fd, std::span<std::uint8_t> out,
                    std::chrono::steady_clock::time_point deadline);
// Connects a non-blocking socket within the deadline.
bool Connect(int fd, std::uint32_t address, std::uint16_t port,
             std::chrono::steady_clock::time_point deadline);

}  // namespace platform::netbios
