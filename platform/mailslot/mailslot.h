#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Local mailslots: message-oriented endpoints that one process owns by name and that anyone on
// the machine (and the NetBIOS datagram service, for the network) writes whole datagrams to.
// Each is an abstract-namespace AF_UNIX datagram socket named after the mailslot path, so
// ownership is exclusive per name and per network namespace, and datagrams arrive whole and in
// order.
namespace platform::mailslot {

// The socket address for a mailslot name such as "MESSNGR" or "\MAILSLOT\MESSNGR"; mailslot
// names are case-insensitive.
std::string AbstractAddress(std::string_view name);

class Mailslot {
  public:
    struct Info {
        std::size_t next_size = 0;  // size of the next datagram
        std::size_t waiting = 0;    // datagrams waiting (0 or at least 1)
    };

    Mailslot() = default;
    ~Mailslot();
    Mailslot(Mailslot&& other) noexcept;
    Mailslot& operator=(Mailslot&& other) noexcept;

    // Creates the mailslot; nullopt when the name is already owned or the socket cannot be made.
    // Reads never wait. Datagrams above max_message_size are dropped when found.
    static std::optional<Mailslot> Create(std::string_view name, std::size_t max_message_size);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::size_t max_message_size() const { return max_size_; }

    // Size of the next datagram and whether any waits, without waiting; nullopt when the query
    // failed (the endpoint is broken).
    std::optional<Info> GetInfo();
    // Reads exactly one whole datagram into out; returns the bytes stored (a datagram longer than
    // out is cut), or nullopt when none was waiting or the read failed.
    std::optional<std::size_t> Read(std::span<std::uint8_t> out);
    void Close();

  private:
    int fd_ = -1;
    std::size_t max_size_ = 0;
};

// Result of writing to a local mailslot.
enum class WriteResult { Written, NoSuchMailslot, WouldBlock, Failed };

// Writes one datagram to the local mailslot of that name without blocking.
WriteResult Write(std::string_view name, std::span<const std::uint8_t> data);

// A write handle on a local mailslot, for senders that write repeatedly.
class Writer {
  public:
    Writer() = default;
    ~Writer();
    Writer(Writer&& other) noexcept;
    Writer& operator=(Writer&& other) noexcept;

    // Opens the mailslot for writing; nullopt when it does not exist.
    static std::optional<Writer> Open(std::string_view name);
    WriteResult Write(std::span<const std::uint8_t> data);

  private:
    int fd_ = -1;
};

}  // namespace platform::mailslot
