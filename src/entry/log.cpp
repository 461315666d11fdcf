#include "entry/log.h"

#include <cstdio>

#include "common/calendar_date.h"
#include "entry/paths.h"
#include "entry/update_folder.h"

namespace tamsel {
namespace {

constexpr std::uint64_t ticks_per_second = 10'000'000;

}  // namespace

std::uint64_t unix_seconds_from_filetime(std::uint64_t filetime) {
    if (filetime < filetime_unix_epoch) return 0;
    return (filetime - filetime_unix_epoch) / ticks_per_second;
}

std::uint64_t unix_now(Clock& clock) { return unix_seconds_from_filetime(clock.filetime_now()); }

std::string utc_timestamp(std::uint64_t unix_seconds) {
    const std::uint64_t second_of_day = unix_seconds % 86400;
    char time[16];
    std::snprintf(time, sizeof time, "T%02u:%02u:%02uZ", static_cast<unsigned>(second_of_day / 3600),
                  static_cast<unsigned>(second_of_day % 3600 / 60), static_cast<unsigned>(second_of_day % 60));
    return calendar_date_text(date_from_unix_days(static_cast<std::int64_t>(unix_seconds / 86400))) + time;
}

bool wall_clock_reached(Clock& clock, std::uint64_t deadline) {
    const std::uint64_t reading = clock.filetime_now();
    return reading >= filetime_unix_epoch && unix_seconds_from_filetime(reading) >= deadline;
}

std::string log_line(std::uint64_t unix_seconds, std::string_view message, std::uint32_t number) {
    std::string line = utc_timestamp(unix_seconds);
    line += ' ';
    line += message;
    line += ' ';
    line += std::to_string(number);
    line += "\r\n";
    return line;
}

Log::Log(Files& files, Clock& clock, EventLog& event_log, const std::string& update_dir)
    : files_(files),
      clock_(clock),
      event_log_(event_log),
      path_(UpdateFolder{update_dir}.log()),
      previous_path_(UpdateFolder{update_dir}.previous_log()) {}

void Log::write(LogMessage message, std::uint32_t number) {
    const std::string line = log_line(unix_now(clock_), message.text(), number);
    const std::uint64_t size = files_.size(path_).value_or(0);
    if (size + line.size() > log_size_limit) {
        // A failed rotation is ignored: the line then goes to the current file.
        files_.replace_file(path_, previous_path_);
    }
    // The event goes out whatever became of the line: a log on a full disk
    // is when the administrator most needs to hear of it elsewhere.
    if (const auto file = files_.open_append(path_)) write_all(*file, line.data(), line.size());
    event_log_.report(message.event_id(), message.type(), number);
}

}  // namespace tamsel
