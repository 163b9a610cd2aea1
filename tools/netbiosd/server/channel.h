#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/netbios/socket.h"

// A program's connection as the NetBIOS service writes to it. Answers are written at once from
// whichever thread has them (a listen completes on the stack's thread, without a detour), in
// the order given; what the socket cannot take yet waits here, within a bound.
namespace platform::netbios::service {

class Channel {
  public:
    Channel(UniqueFd fd, std::size_t max_waiting);
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // For reading and polling on the service's thread.
    int fd() const { return fd_.get(); }
    // Queues one message, with a socket to hand over, and writes what the socket takes now. False
    // once the program is to be cut off: too much waits for it, or its socket failed.
    bool Send(std::vector<std::uint8_t> bytes, UniqueFd handed = {});
    // Writes what waits; false as Send.
    bool Flush();
    bool Waiting() const;
    bool Broken() const;
    // Nothing is sent any more; what waits is dropped.
    void Close();

  private:
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        UniqueFd handed;
    };
    bool FlushLocked();

    UniqueFd fd_;
    const std::size_t max_waiting_;
    mutable std::mutex mutex_;
    std::deque<Outgoing> out_;
    std::atomic<bool> broken_ = false;  // also read without the lock
    bool closed_ = false;
};

}  // namespace platform::netbios::service
