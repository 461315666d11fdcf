#include "entry/entry.h"

#include <algorithm>

#include "entry/exit_codes.h"
#include "entry/folder_guard.h"
#include "entry/log.h"
#include "entry/paths.h"
#include "entry/prepare.h"
#include "entry/update_folder.h"
#include "common/client_limits.h"

namespace tamsel {
namespace {

bool has_argument(const std::vector<std::string>& arguments, std::string_view wanted) {
    return std::any_of(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end(),
                       [&](const std::string& argument) { return argument == wanted; });
}

// Ends a pass before its log exists: the exit code is then all the task
// sees, so the event log hears of it too.
int early_exit(EventLog& event_log, int code) {
    LogMessageEntry event{};
    switch (code) {
    case exit_code::not_system_account: event = event_only_message("did not run: not the system account"); break;
    case exit_code::another_pass_runs: event = event_only_message("did not run: another pass runs"); break;
    case exit_code::folder_refused: event = event_only_message("did not run: a folder was refused"); break;
    default: event = event_only_message("did not run: a folder was not found"); break;  // own_folder_missing
    }
    event_log.report(event.event_id, event.type, 0);
    return code;
}

bool runs_as_system_account(Account& account) {
    const auto user = account.process_user();
    return user && account.is_well_known(*user, WellKnownSid::local_system);
}

}  // namespace

Mode select_mode(const std::vector<std::string>& arguments) {
    if (has_argument(arguments, close_argument)) return Mode::close;
    if (has_argument(arguments, window_argument)) return Mode::window;
    if (has_argument(arguments, phase_two_argument)) return Mode::phase_two;
    if (has_argument(arguments, status_argument)) return Mode::status;
    if (has_argument(arguments, prepare_argument)) return Mode::prepare;
    if (has_argument(arguments, self_check_argument)) return Mode::self_check;
    return Mode::check_run;
}

bool RunExclusion::take(Platform& platform, const std::string& update_dir) {
    if (!lock_file_) lock_file_ = platform.files.open_exclusive(UpdateFolder{update_dir}.lock_file()).value_or(nullptr);
    if (!lock_file_) return false;
    if (!private_mutex_settled_) {
        const PrivateMutex taken = platform.mutexes.take_private_mutex(std::string(run_namespace_name),
                                                                       std::string(run_mutex_name), private_mutex_);
        if (taken == PrivateMutex::busy) return false;
        private_mutex_settled_ = true;
    }
    // Whatever answers (a user may hold the name), the pass goes on.
    platform.mutexes.create_owned_mutex(std::string(update_mutex_name));
    return true;
}

bool take_exclusion_waiting(RunExclusion& exclusion, Platform& platform, const std::string& update_dir) {
    const std::uint64_t began = platform.clock.monotonic_ms();
    while (!exclusion.take(platform, update_dir)) {
        if (platform.clock.monotonic_ms() - began >= exclusion_wait_ms) return false;
        platform.clock.sleep_ms(exclusion_pause_ms);
    }
    return true;
}

RunContext make_run_context(const std::string& program_dir, const std::string& program_data,
                            const BuildSettings& settings) {
    RunContext context;
    context.program_dir = program_dir;
    context.main_exe = join_path(program_dir, main_exe_name);
    context.data_dir = join_path(program_data, data_folder_name);
    context.update_dir = join_path(context.data_dir, update_folder_name);
    context.feed_url = "https://" + settings.update_host + std::string(feed_path);
    context.files_prefix = "https://" + settings.update_host + std::string(files_path);
    context.working_key = settings.working_key;
    context.reserve_key = settings.reserve_key;
    return context;
}

int self_check(Platform& platform, const BuildSettings& settings) {
    const auto own_path = platform.folders.own_executable_path();
    const auto program_dir = own_path ? parent_folder(*own_path) : std::nullopt;
    const auto program_data = platform.folders.known_folder_path(KnownFolder::program_data);
    if (!program_dir || !program_data) return exit_code::own_folder_missing;
    const RunContext context = make_run_context(*program_dir, *program_data, settings);
    if (!folder_is_guarded(context.data_dir, platform.files, platform.security, platform.account) ||
        !folder_is_guarded(context.update_dir, platform.files, platform.security, platform.account))
        return exit_code::folder_refused;
    const PublicKey none{};
    if (context.working_key == none || context.reserve_key == none || context.working_key == context.reserve_key ||
        !platform.crypto.open_ecdsa_p256() || !platform.crypto.begin_sha256())
        return exit_code::self_check_failed;
    return exit_code::done;
}

int run_entry(const std::vector<std::string>& arguments, Platform& platform, const BuildSettings& settings,
              const Modes& modes) {
    // The status report writes nothing and takes no mutex, so an
    // administrator may ask for it; every other mode, the window helper
    // included, runs only as the system account.
    const Mode mode = select_mode(arguments);
    if (mode == Mode::status) return modes.status();
    if (!runs_as_system_account(platform.account)) return early_exit(platform.event_log, exit_code::not_system_account);

    if (mode == Mode::prepare) return prepare_mode(platform);
    if (mode == Mode::self_check) return self_check(platform, settings);
    if (mode == Mode::close) return modes.close();
    if (mode == Mode::window) return modes.window();

    const auto own_path = platform.folders.own_executable_path();
    const auto program_dir = own_path ? parent_folder(*own_path) : std::nullopt;
    if (!program_dir) return early_exit(platform.event_log, exit_code::own_folder_missing);
    const auto program_data = platform.folders.known_folder_path(KnownFolder::program_data);
    if (!program_data) return early_exit(platform.event_log, exit_code::own_folder_missing);
    const RunContext context = make_run_context(*program_dir, *program_data, settings);

    // The folder guard comes first: the lock file is only an exclusion in a
    // folder that no other account can write.
    if (!folder_is_guarded(context.data_dir, platform.files, platform.security, platform.account) ||
        !folder_is_guarded(context.update_dir, platform.files, platform.security, platform.account))
        return early_exit(platform.event_log, exit_code::folder_refused);

    // Held until the pass returns, just before its process ends.
    RunExclusion exclusion;
    // The check run that started the setup program frees the exclusion only
    // when its process ends, and an administrator may run a pass by hand:
    // phase two waits for them rather than leave the installation unjudged
    // and the program closed. A check run comes again.
    const bool taken = mode == Mode::phase_two ? take_exclusion_waiting(exclusion, platform, context.update_dir)
                                               : exclusion.take(platform, context.update_dir);
    if (!taken) return early_exit(platform.event_log, exit_code::another_pass_runs);

    Log log(platform.files, platform.clock, platform.event_log, context.update_dir);
    if (mode == Mode::phase_two) return modes.phase_two(context, log);
    return modes.check_run(context, log);
}

}  // namespace tamsel
