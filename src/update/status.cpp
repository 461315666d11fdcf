#include "update/status.h"

#include <algorithm>
#include <deque>

#include "common/calendar_date.h"
#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "entry/folder_guard.h"
#include "entry/log.h"
#include "entry/update_folder.h"
#include "state/state.h"
#include "update/policies.h"
#include "update/version.h"

namespace tamsel {
namespace {

// Whatever the files hold, nothing in the report may steer the terminal: the
// versions come from the feed, and any file may have been tampered with.
std::string shown(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '?';
    }
    return out;
}

std::string list_text(const std::vector<std::string>& versions) {
    if (versions.empty()) return "none";
    std::string out;
    for (const auto& version : versions) {
        if (!out.empty()) out += ", ";
        out += shown(version);
    }
    return out;
}

// A log file's text; nothing when it cannot be read. The log rotates at
// 64 KiB, so a much larger file is not one the updater wrote: only its first
// megabyte is read.
std::optional<std::string> read_text(Files& files, const std::string& path) {
    const auto file = files.open_read(path);
    if (!file || !*file) return std::nullopt;
    constexpr std::size_t limit = 1 << 20;
    std::string text;
    char buffer[8192];
    while (text.size() < limit) {
        const auto got = (*file)->read(buffer, sizeof buffer);
        if (!got) return std::nullopt;
        if (*got == 0) break;
        text.append(buffer, *got);
    }
    return text;
}

void add_lines(std::deque<std::string>& lines, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(shown(line));
        if (lines.size() > status_log_lines) lines.pop_front();
        start = end + 1;
    }
}

void add(std::string& out, std::string_view label, const std::string& value) {
    out += label;
    out += ": ";
    out += value;
    out += "\r\n";
}

std::string program_folder_text(const RunContext& context, Platform& platform) {
    for (const std::string& path : {context.program_dir, join_path(context.program_dir, "tamsel-update.exe")}) {
        const FolderVerdict verdict = judge_program_entry(path, platform.security, platform.account);
        if (!verdict.accepted()) return shown(path) + ": " + verdict_text(verdict);
    }
    return shown(context.program_dir) + ": accepted";
}

}  // namespace

std::string status_report(const RunContext& context, Platform& platform) {
    const UpdateFolder folder{context.update_dir};
    const std::uint64_t now = unix_now(platform.clock);
    std::string out = "Tamsel updater status\r\n";
    add(out, "update folder", shown(context.update_dir));
    add(out, "program folder", program_folder_text(context, platform));
    const auto installed = installed_version_text(platform.version_info, context.main_exe);
    add(out, "installed version", installed ? *installed : "none");

    const auto read = read_state(platform.files, folder.state());
    if (!read) {
        add(out, "state", "unreadable (" + shown(read.error().reason) + ")");
    } else {
        const State& state = *read;
        add(out, "last try", state.last_try ? calendar_date_text(*state.last_try) : "never");
        if (state.pending) {
            const Pending& pending = *state.pending;
            const std::uint64_t age = now > pending.since ? now - pending.since : 0;
            std::string sessions;
            for (const auto session : pending.sessions)
                sessions += (sessions.empty() ? "" : " ") + std::to_string(session);
            add(out, "pending",
                shown(pending.version) + " from " + shown(pending.from) + ", since " + utc_timestamp(pending.since) +
                        " (" + std::to_string(age) + " s ago)");
            add(out, "pending sessions", sessions.empty() ? "none" : sessions);
            add(out, "pending rollback copy", pending.rollback_copy ? "yes" : "no");
            add(out, "pending rolling back", pending.rolling_back ? "yes" : "no");
            if (pending.report_prefix) add(out, "pending outcome reported to", shown(*pending.report_prefix));
        } else {
            add(out, "pending", "none");
        }
        add(out, "failed", list_text(state.failed));
        add(out, "stopped", list_text(state.stopped));
        add(out, "working key revoked", state.working_key_revoked ? "yes" : "no");
        if (state.deferred_at) add(out, "deferred while the program ran", utc_timestamp(*state.deferred_at));
    }

    // The pass's own reading, with what each value found does or why it is ignored.
    const Policies policies = read_policies(platform.registry);
    if (policies.found.empty())
        add(out, "policies", "none");
    else
        out += "policies:\r\n";
    for (const PolicyReading& reading : policies.found) out += "  " + shown(policy_effect(reading)) + "\r\n";

    std::deque<std::string> lines;
    if (const auto previous = read_text(platform.files, folder.previous_log())) add_lines(lines, *previous);
    if (const auto current = read_text(platform.files, folder.log())) add_lines(lines, *current);
    out += "last log lines:\r\n";
    for (const auto& line : lines) out += "  " + line + "\r\n";
    return out;
}

int status_mode(Platform& platform) {
    const auto own_path = platform.folders.own_executable_path();
    const auto program_dir = own_path ? parent_folder(*own_path) : std::nullopt;
    if (!program_dir) return exit_code::own_folder_missing;
    const auto program_data = platform.folders.known_folder_path(KnownFolder::program_data);
    if (!program_data) return exit_code::own_folder_missing;
    // The report needs the folders only, not the server or the keys.
    const RunContext context = make_run_context(*program_dir, *program_data, BuildSettings{});
    // A refused folder is the likeliest reason a machine never updates:
    // say which and why, but read nothing inside it.
    const FolderVerdict data = judge_folder(context.data_dir, platform.files, platform.security, platform.account);
    const FolderVerdict update = data.accepted() ? judge_folder(context.update_dir, platform.files, platform.security,
                                                                platform.account)
                                                 : FolderVerdict{};
    if (!data.accepted() || !update.accepted()) {
        std::string out = "Tamsel updater status\r\n";
        add(out, "data folder", shown(context.data_dir) + ": " + verdict_text(data));
        if (data.accepted()) add(out, "update folder", shown(context.update_dir) + ": " + verdict_text(update));
        add(out, "program folder", program_folder_text(context, platform));
        const FolderVerdict& refused = data.accepted() ? update : data;
        if (refused.refusal != Refusal::unreadable || refused.error != 5)
            out += "No pass runs until the folders are accepted: repair the installation (msiexec /fa, or "
                   "install-updater.ps1 again), which runs tamsel-update.exe /prepare as the system account.\r\n";
        platform.standard_output.write_standard_output(out);
        return exit_code::folder_refused;
    }
    // Nobody to tell when there is no output: the report is all this mode does.
    platform.standard_output.write_standard_output(status_report(context, platform));
    return exit_code::done;
}

}  // namespace tamsel
