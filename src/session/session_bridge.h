// What the check run needs from the users' sessions: where the main program
// runs, closing it in one session, and starting it again in a list of them.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entry/log.h"
#include "platform/platform.h"

namespace tamsel {

// What a raise learnt about the program. Only a window helper that ran and
// reported the window missing or dying is a verdict on the program; a
// helper that could not start or was ended from outside tells nothing.
enum class RaiseOutcome {
    up,         // confirmed in every session kept for verification (or none was asked for)
    not_up,     // a helper watched and reported that the window did not appear or did not live
    unwatched,  // nothing watched failed, but some session could not be watched
};

class SessionBridge {
public:
    virtual ~SessionBridge() = default;
    // The sessions in which main_exe runs, ascending, each once; a failure,
    // with the listing's error, when the processes could not be listed.
    virtual Result<std::vector<std::uint32_t>> program_sessions(const std::string& main_exe) = 0;
    // Closes main_exe in one session (politely, then by force); false when it
    // could not be closed. Logs its own lines with the session's number.
    virtual bool close_program(const std::string& main_exe, std::uint32_t session, Log& log) = 0;
    // Starts main_exe again in each of the sessions and has its window
    // checked there; logs its own lines with the sessions' numbers.
    virtual RaiseOutcome raise_program(const std::string& main_exe, const std::vector<std::uint32_t>& sessions,
                                       Log& log) = 0;
    // The user logged on to the session, as a SID in its standard form: the
    // same user has the same SID at every logon, whatever session id the
    // logon gets. Nothing when nobody is logged on or it cannot be read.
    virtual std::optional<std::string> session_user(std::uint32_t) { return std::nullopt; }
    // The machine's sessions; a failure when they could not be listed. A
    // bridge that cannot reach users' sessions knows none.
    virtual Result<std::vector<std::uint32_t>> sessions() { return std::vector<std::uint32_t>{}; }
};

// The bridge over the platform's processes, desktop and clock: the
// product's, and the one the unit tier drives with fakes.
std::unique_ptr<SessionBridge> make_session_bridge(Platform& platform);

}  // namespace tamsel
