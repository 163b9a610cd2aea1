#pragma once

#include <chrono>
#include <cstdint>

// File times: 64-bit counts of 100-nanosecond intervals since 1 January 1601. The archive keeps
// arrival times as the local wall-clock time in this form, with no time zone attached.
namespace file_time {

// File time of the Unix epoch, 1 January 1970.
inline constexpr std::int64_t kUnixEpoch = 116444736000000000;
inline constexpr std::int64_t kTicksPerSecond = 10000000;

// Calendar fields of a file time (proleptic Gregorian calendar).
struct CalendarTime {
    int year = 1601;
    int month = 1;  // 1–12
    int day = 1;    // 1–31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int day_of_week = 1;  // 0 Sunday … 6 Saturday; 1 January 1601 was a Monday
};

// The given instant as local wall-clock time (the time zone's offset at that instant applied).
std::int64_t LocalFromSystemClock(std::chrono::system_clock::time_point when);
// Now, as local wall-clock time.
std::int64_t LocalNow();

// Calendar fields of a file time; negative times read as 1601-01-01 00:00.
CalendarTime ToCalendar(std::int64_t file_time);
// The file time of calendar fields (which must name a valid date from 1601 on).
std::int64_t FromCalendar(const CalendarTime& calendar);

}  // namespace file_time
