// The session census: which running processes are the installed main program,
// and in which sessions they run.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace tamsel {

struct CensusEntry {
    std::uint32_t process_id = 0;
    std::uint32_t session_id = 0;
    friend bool operator==(const CensusEntry&, const CensusEntry&) = default;
};

// The two tests a process passes to count as the program: its reported
// name is Tamsel.exe (after full Unicode lower-casing), and its image is the
// program: the same path after lower-casing, or else, for a program path
// spelt another way (an 8.3 name, a junction, a symbolic link), the image's
// NT name is the program file's final NT path. Only the program's side is
// ever opened: the image's path is the user's to choose.
bool has_program_name(const ProcessEntry& process);
bool is_program_image(Processes& processes, const ProcessImage& image, const std::string& program_path);

// The processes whose reported name is Tamsel.exe and whose image is the
// program (is_program_image), in the order the platform reports them. Never
// fails: a failed enumeration is an empty census.
std::vector<CensusEntry> find_program_processes(Processes& processes, const std::string& program_path);

// The same census, but a failure (with the enumeration's error) when the
// enumeration failed: for the callers that must not take "unknown" for
// "running nowhere".
Result<std::vector<CensusEntry>> take_census(Processes& processes, const std::string& program_path);

// For closing: whether the program may still run in the session. A list
// that cannot be taken, and a Tamsel.exe in the session whose image cannot
// be read, do not show the program gone, so both count as running. A path
// however long is read and compared, as in the census.
bool program_may_run_in(Processes& processes, const std::string& program_path, std::uint32_t session_id);

// The sessions of the census, ascending, each once.
std::vector<std::uint32_t> program_sessions(Processes& processes, const std::string& program_path);
std::vector<std::uint32_t> sessions_of(const std::vector<CensusEntry>& census);

// Whether any entry of the census carries the session.
bool runs_in_session(const std::vector<CensusEntry>& census, std::uint32_t session_id);

}  // namespace tamsel
