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

class SessionBridge {
public:
    virtual ~SessionBridge() = default;
    // The sessions in which main_exe runs, ascending, each once; nothing
    // when the processes could not be listed.
    virtual std::optional<std::vector<std::uint32_t>> program_sessions(const std::string& main_exe) = 0;
    // Closes main_exe in one session (politely, then by force); false when it
    // could not be closed. Logs its own lines with the session's number.
    virtual bool close_program(const std::string& main_exe, std::uint32_t session, Log& log) = 0;
    // Starts main_exe again in each of the sessions and checks its window;
    // true when it was verified to be up in all of them.
    virtual bool raise_program(const std::string& main_exe, const std::vector<std::uint32_t>& sessions,
                               Log& log) = 0;
};

// The bridge over the platform's processes, desktop and clock: the
// product's, and the one the unit tier drives with fakes.
std::unique_ptr<SessionBridge> make_session_bridge(Platform& platform);

}  // namespace tamsel
