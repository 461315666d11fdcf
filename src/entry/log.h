// The updater's log: one line per verdict, appended to updater.log in the
// update folder, with one earlier generation kept as updater.log.1, and
// reported to the Windows event log as well.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "common/client_limits.h"
#include "common/log_messages.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace tamsel {

// 1970-01-01T00:00:00Z as a FILETIME (100-ns ticks since 1601).
inline constexpr std::uint64_t filetime_unix_epoch = 116'444'736'000'000'000;

// Whole seconds since 1970 from a FILETIME reading; 0 for a clock before 1970.
std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime);
// The wall clock in whole seconds since 1970 (0 before 1970).
std::uint64_t unix_now(Clock& clock);
// Whether the wall clock has reached a deadline in seconds since 1970, read
// once; a clock before 1970 can tell no deadline and never reaches one.
bool wall_clock_reached(Clock& clock, std::uint64_t deadline);
// "YYYY-MM-DDTHH:MM:SSZ" in UTC for seconds since 1970 (the year has at least
// four digits).
std::string utc_timestamp(std::uint64_t unix_seconds);
// One whole log line: timestamp, message and number, ended by CR LF.
std::string log_line(std::uint64_t unix_seconds, std::string_view message, std::uint32_t number);

class Log {
public:
    // Touches no file.
    Log(Files& files, Clock& clock, EventLog& event_log, const std::string& update_dir);

    // Appends one line, rotating first when the line would take the file past
    // 65,536 bytes, then reports it as its message's event with the number
    // as data. Never fails towards the caller: a line that cannot be written
    // is lost, and an event that cannot be reported is not missed.
    void write(LogMessage message, std::uint32_t number = 0);

    const std::string& path() const { return path_; }
    const std::string& previous_path() const { return previous_path_; }

private:
    Files& files_;
    Clock& clock_;
    EventLog& event_log_;
    std::string path_;
    std::string previous_path_;
};

}  // namespace tamsel
