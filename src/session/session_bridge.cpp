#include "session/session_bridge.h"

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

private:
    Platform& platform_;
};

}  // namespace

std::unique_ptr<SessionBridge> make_session_bridge(Platform& platform) {
    return std::make_unique<PlatformSessionBridge>(platform);
}

}  // namespace tamsel
