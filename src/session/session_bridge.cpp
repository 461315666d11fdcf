#include "session/session_bridge.h"

#include "entry/folder_guard.h"
#include "session/census.h"
#include "session/raise_close.h"

namespace tamsel {
namespace {

class PlatformSessionBridge final : public SessionBridge {
public:
    explicit PlatformSessionBridge(Platform& platform) : platform_(platform) {}

    Result<std::vector<std::uint32_t>> program_sessions(const std::string& main_exe) override {
        const auto census = take_census(platform_.processes, main_exe);
        if (!census) return census.error();
        return sessions_of(*census);
    }
    bool close_program(const std::string& main_exe, std::uint32_t session, Log& log) override {
        return tamsel::close_program(platform_, session, main_exe, log);
    }
    RaiseOutcome raise_program(const std::string& main_exe, const std::vector<std::uint32_t>& sessions,
                               Log& log) override {
        return tamsel::raise_program(platform_, sessions, main_exe, log);
    }
    std::optional<std::string> session_user(std::uint32_t session) override {
        const auto token = platform_.processes.user_token(session);
        const auto sid = token ? platform_.processes.token_user(*token) : std::nullopt;
        return sid ? sid_string(*sid) : std::nullopt;
    }
    Result<std::vector<std::uint32_t>> sessions() override { return platform_.processes.session_ids(); }

private:
    Platform& platform_;
};

}  // namespace

std::unique_ptr<SessionBridge> make_session_bridge(Platform& platform) {
    return std::make_unique<PlatformSessionBridge>(platform);
}

}  // namespace tamsel
