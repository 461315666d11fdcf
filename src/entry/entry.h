// The process entry: privilege check, mode selection, run context, the
// folder guard, the exclusion between passes and the hand-over to a mode.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/product_names.h"
#include "entry/log.h"
#include "entry/run_context.h"
#include "platform/platform.h"

namespace tamsel {

enum class Mode { close, window, phase_two, status, prepare, self_check, check_run };

// The window helper's two arguments, and the one that starts phase two.
inline constexpr std::string_view close_argument = "/close";
inline constexpr std::string_view window_argument = "/window";
inline constexpr std::string_view phase_two_argument = "/phase2";
// The administrator's read-only report.
inline constexpr std::string_view status_argument = "/status";
// The installer's request to make the data folders (the system account only).
inline constexpr std::string_view prepare_argument = "/prepare";
// A setup program's test of a new updater before it replaces the old one.
inline constexpr std::string_view self_check_argument = "/selfcheck";

// Arguments after the first are compared whole and case-sensitively; "/close"
// beats "/window", which beats "/phase2", which beats "/status", which beats
// "/prepare", which beats "/selfcheck"; anything else is a check run.
Mode select_mode(const std::vector<std::string>& arguments);

// The constants a build carries.
struct BuildSettings {
    std::string update_host;
    PublicKey working_key{};
    PublicKey reserve_key{};
};

// Builds the run context from the two folders and the build's constants.
RunContext make_run_context(const std::string& program_dir, const std::string& program_data,
                            const BuildSettings& settings);

// What keeps other passes out while it lives: the lock file held without
// sharing and, where the system offers it, the private mutex.
class RunExclusion {
public:
    // Takes what is not held yet; true once all of it is held. A part that
    // another pass holds, or that cannot be had, leaves it false; a private
    // namespace the system does not offer leaves the lock file to decide.
    bool take(Platform& platform, const std::string& update_dir);

private:
    std::unique_ptr<FileHandle> lock_file_;
    std::unique_ptr<HeldObject> private_mutex_;
    bool private_mutex_settled_ = false;
};

// Takes the exclusion, waiting for whoever holds it as long as phase two
// waits; false when it is still held then.
bool take_exclusion_waiting(RunExclusion& exclusion, Platform& platform, const std::string& update_dir);

// What the entry hands over to, each returning the process exit code. The
// composition root fills them in; the entry knows none of them by name.
struct Modes {
    std::function<int(const RunContext&, Log&)> check_run;
    std::function<int(const RunContext&, Log&)> phase_two;
    std::function<int()> close;
    std::function<int()> window;
    std::function<int()> status;
};

// "/selfcheck": 0 when this build starts, finds its folders (both accepted by
// the folder guard) and has two distinct keys the system's cryptography can
// take; else 6, 4 or 10. Takes no exclusion, writes nothing: the pass that
// started the setup program may still be ending.
int self_check(Platform& platform, const BuildSettings& settings);

// Runs one process from its arguments to its exit code.
int run_entry(const std::vector<std::string>& arguments, Platform& platform, const BuildSettings& settings,
              const Modes& modes);

}  // namespace tamsel
