// Every fixed text the updater writes to its log, in one table, with the
// event each one is also reported as to the Windows event log. Log::write
// takes a LogMessage, and a LogMessage can only be made at compile time from
// a text in this table: a misspelt or unlisted message does not compile.
//
// Event ids are stable: the Event Viewer and the filters administrators keep
// on their fleets know a message by its id, and the message table compiled
// into tamsel-update.exe (src/app/tamsel-update.mc) maps the id back to the
// text. An id is never renumbered or reused, not even for a message that is
// removed; a new message takes the next id after the highest ever given.
//
// To add a message: add a row {text, next id, type} to `log_messages` below,
// its text under that id to src/app/tamsel-update.mc, and a row for it (its
// event, and what an administrator does about it) to the "Log lines"
// catalogue in docs/operator-guide.md; unit tests keep the three the same.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tamsel {

// How an event shows in the Event Viewer, by the verdict it reports.
enum class EventType : std::uint8_t {
    error,        // needs an administrator
    warning,      // a failure that clears up on its own, or a refused feed or offer
    information,  // normal progress and ordinary verdicts
};

struct LogMessageEntry {
    std::string_view text;
    std::uint32_t event_id;
    EventType type;
    // Reported as an event only: for the exits that happen before the log
    // exists.
    bool event_only = false;
};

inline constexpr bool event_only = true;

inline constexpr auto log_messages = std::to_array<LogMessageEntry>({
    {"state unreadable", 1, EventType::error},
    {"state not written", 2, EventType::error},
    {"no date", 3, EventType::error},
    {"feed request", 4, EventType::information},
    {"feed: no answer", 5, EventType::warning},
    {"feed signature line refused", 6, EventType::warning},
    {"feed signature did not verify", 7, EventType::warning},
    {"feed document refused", 8, EventType::warning},
    {"feed from a newer schema", 9, EventType::error},
    {"refused: the working key is revoked", 10, EventType::warning},
    {"the reserve key spoke: [stop] taken in", 11, EventType::information},
    {"nothing to install: no [download]", 12, EventType::information},
    {"refused: [download] malformed", 13, EventType::warning},
    {"refused: [stop] malformed", 14, EventType::warning},
    {"refused: no update entry of the version", 15, EventType::warning},
    {"nothing to install: not newer", 16, EventType::information},
    {"nothing to install: not yet in the rollout", 17, EventType::information},
    {"refused: the version is stopped", 18, EventType::warning},
    {"refused: the version failed here before", 19, EventType::warning},
    {"refused: foreign address", 20, EventType::warning},
    {"refused: over 16 MB", 21, EventType::warning},
    {"policy: updates disabled", 22, EventType::information},
    {"policy: maximum version", 23, EventType::information},
    {"policy: deferred while the program runs", 24, EventType::information},
    {"policy: proxy", 25, EventType::information},
    {"nothing to install: disabled by policy", 26, EventType::information},
    {"nothing to install: held by policy", 27, EventType::information},
    {"nothing to install: deferred while the program runs", 28, EventType::information},
    {"download refused: no target", 29, EventType::warning},
    {"download refused: network or oversize", 30, EventType::warning},
    {"download refused: size differs", 31, EventType::warning},
    {"download refused: SHA-256 differs", 32, EventType::warning},
    {"download refused: disk", 33, EventType::warning},
    {"download verified", 34, EventType::information},
    {"the program could not be closed: nothing installed", 35, EventType::error},
    {"setup not started", 36, EventType::error},
    {"setup started", 37, EventType::information},
    {"an installation is in flight", 38, EventType::information},
    {"an installation did not finish", 39, EventType::error},
    {"phase two: the installer did not end", 40, EventType::warning},
    {"phase two: nothing in flight", 41, EventType::information},
    {"setup did not install", 42, EventType::error},
    {"updated", 43, EventType::information},
    {"did not start: rollback started", 44, EventType::error},
    {"did not start: rollback not started", 45, EventType::error},
    {"did not start, and there is no copy to roll back to", 46, EventType::error},
    {"rolled back", 47, EventType::information},
    {"rollback did not restore the version", 48, EventType::error},
    {"close: asked politely", 49, EventType::information},
    {"close: the program closed by itself", 50, EventType::information},
    {"close: the helper did not start", 51, EventType::warning},
    {"close: ended", 52, EventType::warning},
    {"close: still running", 53, EventType::warning},
    {"raise: nobody in the session", 54, EventType::information},
    {"raise: start refused", 55, EventType::warning},
    {"raise: the window helper did not start", 56, EventType::warning},
    {"raise: the window helper gave no verdict", 57, EventType::warning},
    {"raise: the program's window did not appear or did not live", 58, EventType::warning},
    {"policy: reports disabled", 65, EventType::information},
    {"report sent", 66, EventType::information},
    {"report not sent", 67, EventType::warning},
    // Reported before the log exists, so never a line of it (Log::write refuses them).
    {"did not run: not the system account", 59, EventType::error, event_only},
    {"did not run: another pass runs", 60, EventType::warning, event_only},
    {"did not run: a folder was refused", 61, EventType::error, event_only},
    {"did not run: a folder was not found", 62, EventType::error, event_only},
    {"did not prepare: the program folder lets others change it", 63, EventType::error, event_only},
    {"did not prepare: a folder could not be made safe", 64, EventType::error, event_only},
});

// Whether `text` is one of the log's messages (an event-only text is not).
constexpr bool is_log_message(std::string_view text) {
    for (const LogMessageEntry& message : log_messages) {
        if (message.text == text && !message.event_only) return true;
    }
    return false;
}

// Reached only at compile time, for a text that is not in `log_messages`: a
// call to a function that is not constexpr ends the constant evaluation, and
// the compiler's message names this function.
inline void log_message_not_in_the_table() {}

// The entry of an event-only text (for the exits before the log exists),
// found at compile time like a LogMessage.
consteval LogMessageEntry event_only_message(std::string_view text) {
    for (const LogMessageEntry& message : log_messages) {
        if (message.text == text && message.event_only) return message;
    }
    log_message_not_in_the_table();
    return {};
}

// One of the log's messages; holds its place in `log_messages`.
class LogMessage {
public:
    // Deliberately implicit, so that `log.write("feed request", 0)` and
    // `return "feed request";` read as plain text at the call site.
    consteval LogMessage(const char* text) : index_(index_of(text)) {}

    constexpr std::string_view text() const { return log_messages[index_].text; }
    constexpr std::uint32_t event_id() const { return log_messages[index_].event_id; }
    constexpr EventType type() const { return log_messages[index_].type; }
    constexpr operator std::string_view() const { return text(); }

    friend constexpr bool operator==(LogMessage message, std::string_view text) { return message.text() == text; }

    template <class Stream>
    friend auto operator<<(Stream& out, LogMessage message) -> decltype(out << std::string_view{}) {
        return out << message.text();
    }

private:
    static consteval std::size_t index_of(std::string_view text) {
        for (std::size_t i = 0; i < log_messages.size(); ++i) {
            if (log_messages[i].text == text && !log_messages[i].event_only) return i;
        }
        log_message_not_in_the_table();
        return log_messages.size();
    }

    std::size_t index_;
};

}  // namespace tamsel
