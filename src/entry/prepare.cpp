#include "entry/prepare.h"

#include "common/log_messages.h"
#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "entry/folder_guard.h"
#include "entry/log.h"
#include "entry/update_folder.h"

namespace tamsel {
namespace {

constexpr std::uint32_t attribute_directory = 0x10;
constexpr std::uint32_t attribute_reparse_point = 0x400;
// Every right: a file in the update folder that anybody else may even read
// can be held open by them, and every pass that needs it then fails.
constexpr std::uint32_t any_right = 0xFFFFFFFFu;
// A folder of that name made by somebody else between our look and our
// creation is moved aside in turn; a few rounds end any race a user can run.
constexpr int creation_rounds = 3;

// "20261208T213700Z": the moment in a name Windows accepts.
std::string stamp_of(Clock& clock) {
    std::string stamp;
    for (const char c : utc_timestamp(unix_now(clock)))
        if (c != '-' && c != ':') stamp += c;
    return stamp;
}

std::string aside_name(const std::string& path, const std::string& stamp) { return path + ".set-aside-" + stamp; }

bool trusted_sid(const Sid& sid, Account& account) {
    return account.is_well_known(sid, WellKnownSid::local_system) ||
           account.is_well_known(sid, WellKnownSid::administrators);
}

void say(std::string& text, const std::string& line) { text += line + "\r\n"; }

// Why an existing entry cannot be kept as the folder, or nothing when it can.
std::optional<std::string> unusable_folder(SecuredEntry& entry, Account& account) {
    const std::uint32_t attributes = entry.attributes();
    if (attributes == invalid_file_attributes) return std::string("its attributes cannot be read");
    if ((attributes & attribute_reparse_point) != 0) return std::string("a link or junction");
    if ((attributes & attribute_directory) == 0) return std::string("a file");
    const auto descriptor = entry.owner_and_dacl();
    if (!descriptor || !descriptor->owner) return std::string("its owner cannot be read");
    if (!trusted_sid(*descriptor->owner, account)) return "owned by " + sid_text(*descriptor->owner);
    return std::nullopt;
}

}  // namespace

bool prepare_folder(const std::string& folder, const std::string& stamp, Platform& platform, std::string& text) {
    for (int round = 0; round < creation_rounds; ++round) {
        const auto made = platform.security.create_protected_folder(folder);
        if (!made) {
            say(text, folder + ": could not be created (error " + std::to_string(made.cause()) + ")");
            return false;
        }
        if (*made == FolderCreation::created) {
            say(text, folder + ": created");
            return true;
        }
        // Judged and changed through one handle: what is protected is what
        // was looked at, even if the name is swapped meanwhile.
        auto opened = platform.security.open_entry(folder);
        if (!opened) {
            say(text, folder + ": could not be opened (error " + std::to_string(opened.cause()) + ")");
            return false;
        }
        std::unique_ptr<SecuredEntry> entry = std::move(*opened);
        const auto unusable = unusable_folder(*entry, platform.account);
        if (!unusable) {
            // Before anything inside is looked at: from here on nobody else
            // can add, rename or remove an entry.
            if (const auto protected_now = entry->protect(); !protected_now) {
                say(text, folder + ": its permissions could not be set (error " +
                                  std::to_string(protected_now.cause()) + ")");
                return false;
            }
            say(text, folder + ": protected");
            return true;
        }
        entry.reset();
        const std::string aside = aside_name(folder, stamp + (round == 0 ? "" : "-" + std::to_string(round)));
        if (const auto moved = platform.files.move(folder, aside); !moved) {
            say(text, folder + ": " + *unusable + ", and could not be moved aside (error " +
                              std::to_string(moved.cause()) + ")");
            return false;
        }
        say(text, folder + ": " + *unusable + ": moved aside to " + aside);
    }
    say(text, folder + ": made again by somebody else each time");
    return false;
}

bool clear_update_folder(const std::string& update_dir, const std::string& data_dir, const std::string& stamp,
                         Platform& platform, std::string& text) {
    const auto names = platform.files.list(update_dir);
    if (!names) {
        say(text, update_dir + ": could not be listed (error " + std::to_string(names.cause()) + ")");
        return false;
    }
    bool cleared = true;
    for (const std::string& name : *names) {
        const std::string path = join_path(update_dir, name);
        auto opened = platform.security.open_entry(path);
        std::unique_ptr<SecuredEntry> entry = opened ? std::move(*opened) : nullptr;
        const std::uint32_t attributes = entry ? entry->attributes() : invalid_file_attributes;
        if (attributes == invalid_file_attributes) {
            say(text, path + ": could not be opened");
            cleared = false;
            continue;
        }
        if ((attributes & attribute_directory) != 0) {
            // The updater makes no folders here. A folder named like one of
            // its files would make every write of that file fail; moved
            // aside, not deleted, since what is inside may be a link.
            entry.reset();
            const std::string aside = aside_name(join_path(data_dir, name), stamp);
            if (platform.files.move(path, aside)) {
                say(text, path + ": a folder: moved aside to " + aside);
            } else {
                say(text, path + ": a folder, and could not be moved aside");
                cleared = false;
            }
            continue;
        }
        const auto trusted = [&](const Sid& sid) { return trusted_sid(sid, platform.account); };
        const FolderVerdict verdict = (attributes & attribute_reparse_point) != 0
                                              ? FolderVerdict{Refusal::link, {}, 0}
                                              : judge_descriptor(entry->owner_and_dacl(), 0, any_right, trusted,
                                                                 trusted);
        if (verdict.accepted()) continue;
        if (verdict.refusal == Refusal::grant) {
            // One of ours (its owner is SYSTEM or the Administrators) that
            // others may reach, as what was written while the folder let
            // them: it keeps its content and loses their entries.
            if (entry->protect()) {
                say(text, path + ": open to " + sid_text(verdict.trustee) + ": protected");
                continue;
            }
        }
        entry.reset();
        const std::string why = verdict.refusal == Refusal::link    ? std::string("a link")
                                : verdict.refusal == Refusal::owner ? "owned by " + sid_text(verdict.trustee)
                                : verdict.refusal == Refusal::grant ? "open to " + sid_text(verdict.trustee)
                                                                    : std::string("its owner cannot be read");
        if (const auto removed = platform.files.remove(path)) {
            say(text, path + ": " + why + ": removed");
        } else {
            // Usually held open by the process of whoever planted it.
            say(text, path + ": " + why + ", and could not be removed (error " + std::to_string(removed.cause()) +
                              "): end what holds it open");
            cleared = false;
        }
    }
    return cleared;
}

PrepareResult prepare(Platform& platform) {
    PrepareResult result;
    const auto own_path = platform.folders.own_executable_path();
    const auto program_dir = own_path ? parent_folder(*own_path) : std::nullopt;
    const auto program_data = platform.folders.known_folder_path(KnownFolder::program_data);
    if (!program_dir || !program_data) {
        result.exit_code = exit_code::own_folder_missing;
        say(result.text, "the updater's own folder or the program-data folder could not be found");
        return result;
    }
    // The program folder first: nothing is worth preparing for an updater
    // that somebody else may replace.
    for (const std::string& path : {*program_dir, *own_path}) {
        const FolderVerdict verdict = judge_program_entry(path, platform.security, platform.account);
        if (verdict.accepted()) continue;
        result.exit_code = exit_code::program_folder_open;
        say(result.text, path + ": " + verdict_text(verdict));
        say(result.text,
            "The system account runs tamsel-update.exe from this folder: install it where only SYSTEM, "
            "Administrators and TrustedInstaller may change it (as in Program Files).");
        return result;
    }
    say(result.text, *program_dir + ": accepted as the program folder");

    const RunContext context = make_run_context(*program_dir, *program_data, BuildSettings{});
    const std::string stamp = stamp_of(platform.clock);
    if (!prepare_folder(context.data_dir, stamp, platform, result.text) ||
        !prepare_folder(context.update_dir, stamp, platform, result.text) ||
        !clear_update_folder(context.update_dir, context.data_dir, stamp, platform, result.text)) {
        result.exit_code = exit_code::folder_refused;
        return result;
    }
    // Whatever still holds the lock file open (a pass, or a handle opened
    // while the folder was open to all) keeps every pass out: wait for it as
    // phase two does, then let go.
    RunExclusion exclusion;
    if (!take_exclusion_waiting(exclusion, platform, context.update_dir)) {
        result.exit_code = exit_code::another_pass_runs;
        say(result.text, context.update_dir + ": the lock file stays held open: end what holds it, then prepare again");
        return result;
    }
    const FolderVerdict data = judge_folder(context.data_dir, platform.files, platform.security, platform.account);
    const FolderVerdict update = judge_folder(context.update_dir, platform.files, platform.security, platform.account);
    if (!data.accepted() || !update.accepted()) {
        // The system did not keep what it was given.
        result.exit_code = exit_code::folder_refused;
        say(result.text, context.data_dir + ": " + verdict_text(data));
        say(result.text, context.update_dir + ": " + verdict_text(update));
        return result;
    }
    say(result.text, "prepared");
    return result;
}

int prepare_mode(Platform& platform) {
    const PrepareResult result = prepare(platform);
    platform.standard_output.write_standard_output(result.text);
    LogMessageEntry event{};
    switch (result.exit_code) {
    case exit_code::done: return result.exit_code;
    case exit_code::program_folder_open:
        event = event_only_message("did not prepare: the program folder lets others change it");
        break;
    case exit_code::another_pass_runs: event = event_only_message("did not run: another pass runs"); break;
    case exit_code::own_folder_missing: event = event_only_message("did not run: a folder was not found"); break;
    default: event = event_only_message("did not prepare: a folder could not be made safe"); break;
    }
    platform.event_log.report(event.event_id, event.type, 0);
    return result.exit_code;
}

}  // namespace tamsel
