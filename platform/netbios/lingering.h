#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/netbios/socket.h"

// Sockets closed on this side that are read until the peer closes them too, for a while, so that
// what was sent last arrives instead of being cut by a reset. One thread watches and drains them;
// the bound keeps a flood of hang-ups from holding descriptors.
namespace platform::netbios {

// After a local hang-up of a session whose socket came back half-closed: reads what the peer sent
// unasked, for a while. True when more may still come, so that the socket must linger until the
// peer closes (a close with unread bytes would be a reset that can cut what was sent).
bool MustLingerAfterHangup(int fd);

class LingeringSockets {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMax = 256;
    static constexpr std::chrono::milliseconds kTime{2000};

    // Closes fd at once when kMax sockets linger already.
    void Add(UniqueFd fd);
    void Expire(Clock::time_point now);
    // The earliest time one is let go of unasked (max when none lingers).
    Clock::time_point NextDeadline() const;
    // Lets go of the oldest, for a descriptor it frees; false when none lingers.
    bool DropOldest();
    bool empty() const { return entries_.empty(); }
    // Adds a poll entry for every socket, and its id to ids at the same place.
    void Watch(std::vector<pollfd>& fds, std::vector<std::uint64_t>& ids) const;
    // Reads what arrived on the socket with the id, when it still lingers; lets it go once the
    // peer closed. Ids stay valid while sockets come and go.
    void Drain(std::uint64_t id);

  private:
    struct Entry {
        std::uint64_t id = 0;
        UniqueFd fd;
        Clock::time_point deadline;
    };
    std::vector<Entry> entries_;
    std::uint64_t next_id_ = 1;
};

}  // namespace platform::netbios
