#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/netbios/socket.h"

// One session to the computer's name, carried on for every program that listened on it: each
// program gets its own stream carrying the caller's bytes as they came, and the first answer to
// each of the caller's messages goes back to it (the others' are dropped, so the caller sees one
// receiver). A program that does not keep up or goes away is dropped alone; the caller is never
// held up by one.
namespace platform::netbios::service {

class Relay {
  public:
    using Clock = std::chrono::steady_clock;

    // network: the caller's session, past its positive response. Session messages above
    // max_message end the stream that carries them; what waits for one program beyond
    // max_waiting drops that program; a caller silent for idle ends the relay. Once the caller
    // has ended, the programs still read what they have not yet, for at most idle.
    Relay(UniqueFd network, std::size_t max_message, std::size_t max_waiting,
          std::chrono::milliseconds idle);
    // Ends the caller's session (the stack may keep a copy of its socket).
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // A stream for one more program (the other end, for the program); invalid when none can be
    // made.
    UniqueFd AddProgram();
    std::size_t Programs() const;

    // Adds the descriptors to poll; Handle then takes their results (same order). False once
    // the relay is over.
    void Fill(std::vector<pollfd>& fds) const;
    bool Handle(std::span<const pollfd> fds, Clock::time_point now);
    Clock::time_point deadline() const { return deadline_; }

  private:
    struct Program {
        UniqueFd fd;
        std::vector<std::uint8_t> out;      // the caller's bytes the stream did not take yet
        std::vector<std::uint8_t> message;  // the answer being read
        std::size_t answers = 0;            // whole session messages answered so far
        bool ended = false;                 // the end of the caller's session passed on
    };
    void FromNetwork(Clock::time_point now);
    // False when the program is to be dropped.
    bool FromProgram(Program& p);
    bool Flush(Program& p);
    bool FlushNetwork();

    UniqueFd network_;
    const std::size_t max_message_;
    const std::size_t max_waiting_;
    const std::chrono::milliseconds idle_;
    std::vector<Program> programs_;
    std::vector<std::uint8_t> to_network_;
    std::size_t forwarded_ = 0;  // answers that went to the caller
    bool had_programs_ = false;
    bool network_done_ = false;  // the caller has ended: the programs finish reading
    Clock::time_point deadline_;
};

}  // namespace platform::netbios::service
