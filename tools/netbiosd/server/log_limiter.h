#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Keeps what programs do from writing the service's log: lines about one key (a uid) come at
// most a few at a time and then one every few seconds, and all keys together at most a few a
// second; each line that goes out tells how many of its key were held back before it.
namespace platform::netbios::service {

class LogLimiter {
  public:
    using Clock = std::chrono::steady_clock;

    // The number of lines of key held back since its last one when a line may go out now;
    // nullopt when this one is held back.
    std::optional<std::size_t> Allow(std::uint64_t key, Clock::time_point now);

  private:
    struct Bucket {
        double tokens = 0;
        Clock::time_point last;
        std::size_t held_back = 0;
    };
    static bool Take(Bucket& b, double burst, double per_second, Clock::time_point now);

    std::map<std::uint64_t, Bucket> keys_;
    Bucket all_;
    bool started_ = false;
};

// Client data fit for one log line: bytes outside printable ASCII, and the backslash, as \xNN.
std::string EscapeForLog(std::string_view text);

}  // namespace platform::netbios::service
