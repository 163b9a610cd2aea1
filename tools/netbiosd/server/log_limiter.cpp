#include "tools/netbiosd/server/log_limiter.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace platform::netbios::service {
namespace {

constexpr double kKeyBurst = 3;
constexpr double kKeyPerSecond = 0.2;
constexpr double kAllBurst = 10;
constexpr double kAllPerSecond = 2;
constexpr std::size_t kMaxKeys = 256;

}  // namespace

bool LogLimiter::Take(Bucket& b, double burst, double per_second, Clock::time_point now) {
    const double elapsed = std::chrono::duration<double>(now - b.last).count();
    b.tokens = std::min(burst, b.tokens + std::max(0.0, elapsed) * per_second);
    b.last = now;
    if (b.tokens < 1) {
        return false;
    }
    b.tokens -= 1;
    return true;
}

std::optional<std::size_t> LogLimiter::Allow(std::uint64_t key, Clock::time_point now) {
    if (!started_) {
        all_ = {kAllBurst, now, 0};
        started_ = true;
    }
    auto it = keys_.find(key);
    if (it == keys_.end()) {
        if (keys_.size() >= kMaxKeys) {
            // The quietest key goes; its count of held-back lines with it.
            keys_.erase(std::min_element(
                keys_.begin(), keys_.end(),
                [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
        }
        it = keys_.emplace(key, Bucket{kKeyBurst, now, 0}).first;
    }
    Bucket& b = it->second;
    if (!Take(b, kKeyBurst, kKeyPerSecond, now)) {
        ++b.held_back;
        return std::nullopt;
    }
    if (!Take(all_, kAllBurst, kAllPerSecond, now)) {
        b.tokens += 1;  // not this key's fault
        ++b.held_back;
        return std::nullopt;
    }
    return std::exchange(b.held_back, 0);
}

std::string EscapeForLog(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace platform::netbios::service
