// The persistent state (state.toml in the update folder): the updater's only
// memory between runs.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/calendar_date.h"
#include "common/result.h"
#include "platform/files.h"

namespace tamsel {

// The installation in flight (the table [pending]).
struct Pending {
    std::string version;  // the version being installed, as the feed wrote it
    std::string from;     // the installed version text when it began
    std::vector<std::uint32_t> sessions;  // where the main program was closed
    bool rollback_copy = false;  // the previous setup program was kept as rollback-setup.exe
    bool rolling_back = false;   // the setup in flight is that rollback copy
    std::uint64_t since = 0;     // unix_now when it began
    // Where phase two reports the outcome: written only when the feed asked
    // for reports, so records without it read and write as before.
    std::optional<std::string> report_prefix = std::nullopt;
    friend bool operator==(const Pending&, const Pending&) = default;
};

// The whole file, fields in the file's order. Default-constructed it is the
// empty state, which is also what a missing file reads as.
struct State {
    bool working_key_revoked = false;
    std::vector<std::string> stopped;  // only grows, no duplicates
    std::vector<std::string> failed;   // only grows (add_failed), no duplicates
    std::optional<CalendarDate> last_try;
    // unix_now of the last pass that found an offer due but deferred it while
    // the main program ran; such a pass leaves the day open for a later one.
    // Absent on machines that never deferred, so their file is unchanged.
    std::optional<std::uint64_t> deferred_at;
    std::optional<Pending> pending;
    friend bool operator==(const State&, const State&) = default;
};

// Why state.toml could not be read: the reason as text, and the Windows
// error of the file call that failed, or 0 for a file that was read but is
// not a state. Callers only log that the state is unreadable, with the cause.
struct StateUnreadable {
    std::string reason;
    std::uint32_t cause = 0;
    friend bool operator==(const StateUnreadable&, const StateUnreadable&) = default;
};

// Reads state.toml. A missing file (or folder) is the empty state and creates
// nothing. Anything that cannot be read, decoded, parsed or mapped strictly
// onto State is unreadable.
Result<State, StateUnreadable> read_state(Files& files, const std::string& path);

// The file's exact text, CR LF line ends; nothing when the state cannot be
// written faithfully (a text that is not UTF-8, a `since` beyond what a TOML
// integer holds).
std::optional<std::string> state_text(const State& state);

// Rewrites state.toml whole through state.toml.tmp and replace_file. On any
// failure the previous state.toml is left as it was; the cause is the Windows
// error of the file call that failed, or 0 for a state without a faithful text.
Result<void> write_state(Files& files, const State& state, const std::string& path);

// Appends `version` to state.failed unless the same text is already there.
void add_failed(State& state, std::string_view version);

}  // namespace tamsel
