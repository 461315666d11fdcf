// A dry run of the updater's check run on the vendor's machine: the real
// check-run code over a platform made of files in memory, OpenSSL for the
// cryptography, the feed answer and (optionally) a publish folder as the
// update server. Nothing is fetched, closed or started; the log lines are
// printed as the pass writes them, and the steps that would act on the
// machine are printed as what would happen.
#pragma once
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/feed_tool.h"

namespace tamsel::tool {

struct DryRunOptions {
    std::string answer;                        // the feed answer's bytes, served at the feed address
    std::optional<std::string> state;          // state.toml's bytes; none: no state file yet
    std::optional<std::string> installed;      // the main program's file version; none: no version resource
    std::optional<std::string> files_folder;   // publish folder served as the update server's root
    std::string host;                          // the update server the client was built for
    PublicKey working_key{};
    PublicKey reserve_key{};
    std::string today;                         // the client's local date, YYYY-MM-DD
    std::uint64_t now_unix = 0;                // the client's clock
    std::vector<std::uint32_t> sessions;       // sessions in which the main program runs
    std::optional<std::string> machine_guid;   // the client's MachineGuid; none: unreadable (the last wave)
    std::optional<std::string> ring;           // the client's UpdateRing policy, early or late; none: not set
};

// The version resource a main program of that file version carries: up to
// four numbers of 0 to 65535 joined by "."; nothing for any other text.
std::optional<std::vector<std::uint8_t>> version_resource(const std::string& file_version);

// One step of the pass, in order: a line of its log as written, a step that
// would act on the machine, or a note of the dry run.
struct DryRunStep {
    enum Kind { log, would, note } kind;
    std::string text;
};

struct DryRunResult {
    std::string main_exe;
    std::optional<std::string> installed;  // the installed version text the client reads
    struct Wave {
        std::uint32_t waves;
        std::string start;   // YYYY-MM-DD
        std::uint32_t wave;  // the machine's
        std::string due;     // the day its wave is due
    };
    std::optional<Wave> wave;  // for an offer rolled out in waves
    std::optional<std::string> report;         // where the client reports outcomes, or why not; none: no [report]
    std::optional<std::string> report_prefix;  // the prefix it reports to
    std::vector<DryRunStep> steps;
    std::optional<int> exit_code;                                    // none: stopped at the download (no --files)
    std::optional<std::string> state;                                // state.toml as the pass leaves it
    std::vector<std::pair<std::string, std::size_t>> update_folder;  // names and sizes
};

DryRunResult run_dry(const DryRunOptions& options);
// Runs one check run and prints its transcript. Returns the pass's exit
// code, -1 when it stopped at the download.
int dry_run(const DryRunOptions& options, std::ostream& out);
// The same as one JSON object: {"installed", "today", "host", "ring" (or null), "rollout":
// {"waves", "start", "wave", "due"} or null, "report" (the prefix outcome
// reports go to, or null), "steps": [{"kind": "log",
// "time", "message", "number"} or {"kind": "would" or "note", "text"}],
// "exit_code" (null: stopped at the download), "state" (the text, or null),
// "update_folder": [{"name", "size"}]}.
void dry_run_json(const DryRunOptions& options, std::ostream& out);

}  // namespace tamsel::tool
