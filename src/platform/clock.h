// Time for the logic: the wall clock, the local calendar and every wait go
// through here, so unit tests can run minutes of waiting on a virtual clock
// in microseconds.
#pragma once
#include <cstdint>
#include <string>

#include "common/result.h"

namespace tamsel {

class Clock {
public:
    virtual ~Clock() = default;
    // The system's precise wall clock in 100-nanosecond ticks since
    // 1601-01-01 UTC (a FILETIME), as GetSystemTimePreciseAsFileTime gives it.
    virtual std::uint64_t filetime_now() = 0;
    // Milliseconds from a monotonic clock (GetTickCount64): for measuring
    // waits, which must not jump when the wall clock is set.
    virtual std::uint64_t monotonic_ms() = 0;
    // Blocks the calling thread for the given milliseconds.
    virtual void sleep_ms(std::uint32_t milliseconds) = 0;
    // Today's local date through GetDateFormatEx with the empty locale name,
    // no flags, the current time and the given picture.
    virtual Result<std::string> local_date_text(const std::string& picture) = 0;
    // Minutes since local midnight now (GetLocalTime), 0 to 1439: the wall
    // clock of the moment, with the time zone and daylight saving time then
    // in force, read afresh at every call so that a clock set meanwhile counts.
    virtual std::uint32_t local_minute_of_day() = 0;
};

}  // namespace tamsel
