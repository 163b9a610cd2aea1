#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Local mailslots: message-oriented endpoints owned by name, into which whole datagrams are
// written. A mailslot belongs to the process that made it: each is a datagram socket pair whose
// read end the Mailslot holds and whose write end stays in a per-process table of names, so no
// other process can take a name first or write into it. The NetBIOS datagram service delivers
// network mailslot writes through that table. Where the NetBIOS service runs as its own process,
// a provider makes mailslots there and hands their read ends over.
namespace platform::mailslot {

// The form a mailslot name is known by: "MESSNGR" and "\mailslot\messngr" are both
// "\MAILSLOT\MESSNGR" (mailslot names are case-insensitive).
std::string CanonicalName(std::string_view name);

// What keeps a mailslot's name taken, and says whether the mailslot is still delivered into.
class Lease {
  public:
    Lease() = default;
    virtual ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    // False once whoever delivers into the mailslot has gone: it must be made anew.
    virtual bool Live() const = 0;
    // Called once the lease is no longer live: a wait for the mailslot's next datagram returns,
    // so that its owner sees at once that it must make the mailslot anew.
    void WakeReader();

  private:
    friend class Mailslot;
    std::atomic<int> reader_{-1};  // a copy of the read end, for WakeReader
};

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

    // Creates the mailslot where datagrams for this process arrive (through the provider when one
    // is set, else here); nullopt when the name is already owned or no socket can be made. Reads
    // never wait. Datagrams above max_message_size are dropped when found.
    static std::optional<Mailslot> Create(std::string_view name, std::size_t max_message_size);
    // Always in this process, whatever the provider.
    static std::optional<Mailslot> CreateHere(std::string_view name, std::size_t max_message_size);
    // A mailslot made elsewhere: its read end (taken over) and the lease that keeps it.
    static Mailslot Adopt(int read_fd, std::size_t max_message_size, std::shared_ptr<Lease> lease);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::size_t max_message_size() const { return max_size_; }

    // Size of the next datagram and whether any waits, without waiting; nullopt when the query
    // failed (the endpoint is broken, or nothing delivers into it any more).
    std::optional<Info> GetInfo();
    // Reads exactly one whole datagram into out; returns the bytes stored (a datagram longer than
    // out is cut), or nullopt when none was waiting or the read failed.
    std::optional<std::size_t> Read(std::span<std::uint8_t> out);
    void Close();
    // Closes the read end here (it went to another process) and returns what keeps the name.
    std::shared_ptr<Lease> ReleaseLease();

  private:
    int fd_ = -1;
    std::size_t max_size_ = 0;
    std::shared_ptr<Lease> lease_;
};

// Makes the mailslots of Mailslot::Create when this process does not receive datagrams itself.
using Provider =
    std::function<std::optional<Mailslot>(std::string_view name, std::size_t max_message_size)>;
// Installs the provider (empty: mailslots are made here). Mailslots made before stop being live,
// so that their owners make them again where datagrams now arrive.
void SetProvider(Provider provider);

// Result of writing to a local mailslot.
enum class WriteResult { Written, NoSuchMailslot, WouldBlock, Failed };

// Writes one datagram to this process's mailslot of that name without blocking.
WriteResult Write(std::string_view name, std::span<const std::uint8_t> data);

// A write handle on one of this process's mailslots, for senders that write repeatedly.
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
