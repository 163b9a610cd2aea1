#include "archive/file_time.h"

#include <ctime>

namespace file_time {
namespace {

constexpr std::int64_t kTicksPerDay = kTicksPerSecond * 86400;

// Days from 1970-01-01 to the given civil date (Howard Hinnant's algorithm).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

constexpr std::int64_t kDaysBefore1970 = -DaysFromCivil(1601, 1, 1);

}  // namespace

std::int64_t LocalFromSystemClock(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ticks = duration_cast<duration<std::int64_t, std::ratio<1, kTicksPerSecond>>>(
                           when.time_since_epoch())
                           .count();
    const std::time_t seconds = system_clock::to_time_t(when);
    std::tm local{};
    long offset = 0;
    if (::localtime_r(&seconds, &local) != nullptr) {
        offset = local.tm_gmtoff;
    }
    return kUnixEpoch + ticks + static_cast<std::int64_t>(offset) * kTicksPerSecond;
}

std::int64_t LocalNow() {
    return LocalFromSystemClock(std::chrono::system_clock::now());
}

CalendarTime ToCalendar(std::int64_t file_time) {
    if (file_time < 0) {
        file_time = 0;
    }
    const std::int64_t days = file_time / kTicksPerDay;
    std::int64_t rest = file_time % kTicksPerDay;
    CalendarTime out;
    CivilFromDays(days - kDaysBefore1970, out.year, out.month, out.day);
    out.hour = static_cast<int>(rest / (3600 * kTicksPerSecond));
    rest %= 3600 * kTicksPerSecond;
    out.minute = static_cast<int>(rest / (60 * kTicksPerSecond));
    rest %= 60 * kTicksPerSecond;
    out.second = static_cast<int>(rest / kTicksPerSecond);
    out.millisecond = static_cast<int>(rest % kTicksPerSecond / 10000);
    out.day_of_week = static_cast<int>((days + 1) % 7);
    return out;
}

std::int64_t FromCalendar(const CalendarTime& c) {
    const std::int64_t days =
        DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) +
        kDaysBefore1970;
    const std::int64_t seconds = ((days * 24 + c.hour) * 60 + c.minute) * 60 + c.second;
    return seconds * kTicksPerSecond + static_cast<std::int64_t>(c.millisecond) * 10000;
}

}  // namespace file_time
