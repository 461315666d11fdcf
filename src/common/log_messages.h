// Every fixed text the updater writes to its log, in one table. Log::write
// takes a LogMessage, and a LogMessage can only be made at compile time from
// a text in this table: a misspelt or unlisted message does not compile.
//
// To add a message: add its text to `log_messages` below, and a row for it
// (with what an administrator does about it) to the "Log lines" catalogue in
// docs/operator-guide.md; a unit test keeps the two the same set.
#pragma once
#include <array>
#include <cstddef>
#include <string_view>

namespace tamsel {

inline constexpr auto log_messages = std::to_array<std::string_view>({
    "state unreadable",
    "state not written",
    "no date",
    "feed request",
    "feed: no answer",
    "feed signature line refused",
    "feed signature did not verify",
    "feed document refused",
    "feed from a newer schema",
    "refused: the working key is revoked",
    "the reserve key spoke: [stop] taken in",
    "nothing to install: no [download]",
    "refused: [download] malformed",
    "refused: [stop] malformed",
    "refused: no update entry of the version",
    "nothing to install: not newer",
    "nothing to install: not yet in the rollout",
    "refused: the version is stopped",
    "refused: the version failed here before",
    "refused: foreign address",
    "refused: over 16 MB",
    "policy: updates disabled",
    "policy: maximum version",
    "policy: deferred while the program runs",
    "policy: proxy",
    "nothing to install: disabled by policy",
    "nothing to install: held by policy",
    "nothing to install: deferred while the program runs",
    "download refused: no target",
    "download refused: network or oversize",
    "download refused: size differs",
    "download refused: SHA-256 differs",
    "download refused: disk",
    "download verified",
    "the program could not be closed: nothing installed",
    "setup not started",
    "setup started",
    "an installation is in flight",
    "an installation did not finish",
    "phase two: the installer did not end",
    "phase two: nothing in flight",
    "setup did not install",
    "updated",
    "did not start: rollback started",
    "did not start: rollback not started",
    "did not start, and there is no copy to roll back to",
    "rolled back",
    "rollback did not restore the version",
    "close: asked politely",
    "close: the program closed by itself",
    "close: the helper did not start",
    "close: ended",
    "close: still running",
    "raise: nobody in the session",
    "raise: start refused",
    "raise: the window helper did not start",
    "raise: the window helper gave no verdict",
    "raise: the program's window did not appear or did not live",
});

// Whether `text` is one of the log's messages.
constexpr bool is_log_message(std::string_view text) {
    for (const std::string_view message : log_messages) {
        if (message == text) return true;
    }
    return false;
}

// Reached only at compile time, for a text that is not in `log_messages`: a
// call to a function that is not constexpr ends the constant evaluation, and
// the compiler's message names this function.
inline void log_message_not_in_the_table() {}

// One of the log's messages; holds its place in `log_messages`.
class LogMessage {
public:
    // Deliberately implicit, so that `log.write("feed request", 0)` and
    // `return "feed request";` read as plain text at the call site.
    consteval LogMessage(const char* text) : index_(index_of(text)) {}

    constexpr std::string_view text() const { return log_messages[index_]; }
    constexpr operator std::string_view() const { return text(); }

    friend constexpr bool operator==(LogMessage message, std::string_view text) { return message.text() == text; }

    template <class Stream>
    friend auto operator<<(Stream& out, LogMessage message) -> decltype(out << std::string_view{}) {
        return out << message.text();
    }

private:
    static consteval std::size_t index_of(std::string_view text) {
        for (std::size_t i = 0; i < log_messages.size(); ++i) {
            if (log_messages[i] == text) return i;
        }
        log_message_not_in_the_table();
        return log_messages.size();
    }

    std::size_t index_;
};

}  // namespace tamsel
