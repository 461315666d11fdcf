#include "session/census.h"

#include <algorithm>

#include "common/unicode_lower.h"
#include "entry/update_folder.h"

namespace tamsel {

std::vector<CensusEntry> find_program_processes(Processes& processes, const std::string& program_path) {
    return take_census(processes, program_path).value_or(std::vector<CensusEntry>{});
}

// Locale-free full lower-casing on both sides: a path that differs only in
// letter case (in any script) is the same program, and nothing depends on
// the language of the machine.
bool has_program_name(const ProcessEntry& process) {
    static const std::string wanted_name = lower_case_full(main_exe_name);
    return lower_case_full(process.name) == wanted_name;
}

bool is_program_image(Processes& processes, const ProcessImage& image, const std::string& program_path) {
    // The plain comparison decides nearly always; the program file is opened
    // only for a Tamsel.exe whose path reads otherwise. The image's own path
    // is never opened: a user who runs \\host\share\Tamsel.exe would have the
    // system account authenticate to that host as the machine, and a host
    // that never answers would stall every census.
    if (lower_case_full(image.path) == lower_case_full(program_path)) return true;
    const auto program_nt_path = processes.final_nt_path(program_path);
    return program_nt_path && !image.nt_path.empty() &&
           lower_case_full(*program_nt_path) == lower_case_full(image.nt_path);
}

Result<std::vector<CensusEntry>> take_census(Processes& processes, const std::string& program_path) {
    std::vector<CensusEntry> census;
    const auto listed = processes.enumerate();
    if (!listed) return listed.error();
    for (const ProcessEntry& process : *listed) {
        // The cheap name test first: only candidates are ever opened.
        if (!has_program_name(process)) continue;
        const auto image = processes.image(process.process_id);
        if (!image) continue;  // ended meanwhile, or access refused
        if (is_program_image(processes, *image, program_path))
            census.push_back({process.process_id, process.session_id});
    }
    return census;
}

bool program_may_run_in(Processes& processes, const std::string& program_path, std::uint32_t session_id) {
    const auto listed = processes.enumerate();
    if (!listed) return true;
    for (const ProcessEntry& process : *listed) {
        if (process.session_id != session_id || !has_program_name(process)) continue;
        // A process that cannot be read may be the program: the setup must not
        // start while it could still hold the file. One that has just ended is
        // gone from the next census.
        const auto image = processes.image(process.process_id);
        if (!image || is_program_image(processes, *image, program_path)) return true;
    }
    return false;
}

std::vector<std::uint32_t> program_sessions(Processes& processes, const std::string& program_path) {
    return sessions_of(find_program_processes(processes, program_path));
}

std::vector<std::uint32_t> sessions_of(const std::vector<CensusEntry>& census) {
    std::vector<std::uint32_t> sessions;
    for (const CensusEntry& entry : census) sessions.push_back(entry.session_id);
    std::sort(sessions.begin(), sessions.end());
    sessions.erase(std::unique(sessions.begin(), sessions.end()), sessions.end());
    return sessions;
}

bool runs_in_session(const std::vector<CensusEntry>& census, std::uint32_t session_id) {
    return std::any_of(census.begin(), census.end(),
                       [&](const CensusEntry& entry) { return entry.session_id == session_id; });
}

}  // namespace tamsel
