#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mailslot/mailslot.h"

// Hands mailslot writes from the network to local mailslots without blocking. A local reader
// takes one datagram per poll and the socket queues only a few, so a datagram that finds the
// mailslot full waits in a small queue of its own mailslot and is tried again soon; later ones
// queue behind it to keep their order. Past the queue's bound datagrams are dropped, as they are
// when the mailslot does not exist.
namespace platform::netbios {

class MailslotDelivery {
  public:
    using Clock = std::chrono::steady_clock;
    using WriteFunction = std::function<platform::mailslot::WriteResult(
        std::string_view name, std::span<const std::uint8_t> data)>;

    static constexpr std::chrono::milliseconds kRetryInterval{20};
    // Distinct mailslots with datagrams waiting; bounds the memory a flood of names can take.
    static constexpr std::size_t kMaxQueues = 16;

    MailslotDelivery(WriteFunction write, std::size_t backlog_per_mailslot);

    // Writes the datagram now, or queues it behind those already waiting for that mailslot.
    void Deliver(std::string_view mailslot, std::span<const std::uint8_t> data,
                 Clock::time_point now);
    // Tries the queues that are due.
    void Retry(Clock::time_point now);
    std::optional<Clock::time_point> NextRetry() const;
    std::size_t Waiting() const;
    std::size_t Dropped() const { return dropped_; }

  private:
    struct Queue {
        std::string name;
        std::deque<std::vector<std::uint8_t>> datagrams;
        Clock::time_point next_try;
    };
    // Writes what it can from the front; false when the queue is to be dropped.
    bool Drain(Queue& q, Clock::time_point now);

    WriteFunction write_;
    std::size_t backlog_;
    std::map<std::string, Queue> queues_;  // by the mailslot's normalized address
    std::size_t dropped_ = 0;
};

}  // namespace platform::netbios
