#include "ui/options/pending_settings.h"

#include <limits>

std::int32_t LeadingNumber(std::string_view text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > kMax) {
            return static_cast<std::int32_t>(kMax);
        }
    }
    return static_cast<std::int32_t>(value);
}
