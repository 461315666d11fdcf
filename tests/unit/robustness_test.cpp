// A whole installation on a fake machine, driven through the process entry
// with the real session bridge: a check run that installs 2.0.0 over 1.0.0,
// the setup program it starts, phase two after it. Two runners go over it:
// one fails each platform call in turn, one cuts the power after each file
// operation and lets the following passes repair what they can.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/product_modes.h"
#include "entry/entry.h"
#include "entry/exit_codes.h"
#include "fakes/fake_platform.h"
#include "support/test_bytes.h"
#include "state/state.h"
#include "update/version.h"

namespace tamsel {
namespace {

using Lines = std::vector<std::string>;
using Codes = std::vector<int>;

const std::string exe = "C:\\Program Files\\Tamsel\\tamsel-update.exe";
const std::string main_exe = "C:\\Program Files\\Tamsel\\Tamsel.exe";
const std::string data_dir = "C:\\ProgramData\\Tam_Sel";
const std::string dir = data_dir + "\\update";
const std::string state_path = dir + "\\state.toml";
const std::string log_path = dir + "\\updater.log";
const std::string feed_url = "https://localhost/tamsel/news.toml";
const std::string setup_url = "https://localhost/tamsel/files/Tamsel-2.0.0-setup.exe";
const std::string old_setup = "setup 1.0.0";
const std::string new_setup = "setup 2.0.0 " + std::string(20000, 'x');  // three chunks
const std::string old_state = "working_key_revoked = false\r\nlast_try = 2026-12-07\r\n";
constexpr std::int64_t start_unix = 1'796'688'000;  // 2026-12-08T00:00:00Z
constexpr std::uint64_t obeys_after_ms = 1'200;      // the program's reaction to the close message

std::string path_of(const char* name) { return dir + "\\" + name; }

// The machine: the updater installed with its guarded folders, Tamsel 1.0.0
// running in the given sessions, the update server offering 2.0.0, and
// stand-ins for what runs beside the updater: the window helper copies (the
// real helper code on the session's desktop), the shell that starts the
// program, and the setup programs, which install the version they carry
// unless the program still runs, leave themselves as installed-setup.exe and
// have phase two follow.
// What the offered 2.0.0 turns out to be.
enum class Offer {
    good,             // installs and comes up
    never_installs,   // its setup leaves itself as installed-setup.exe and installs nothing
    never_up,         // installs, but the program ends at once: rolled back
};

class Machine {
public:
    fakes::FakePlatform fake;
    BuildSettings settings;
    std::vector<std::uint32_t> sessions;
    Offer offer;
    int setups_run = 0;  // phase twos owed to setup programs that ran

    explicit Machine(std::vector<std::uint32_t> program_sessions, Offer offered = Offer::good)
        : sessions(std::move(program_sessions)), offer(offered) {
        settings.update_host = "localhost";
        for (std::size_t i = 0; i < 64; ++i) {
            settings.working_key[i] = static_cast<std::uint8_t>(i + 1);
            settings.reserve_key[i] = static_cast<std::uint8_t>(200 - i);
        }
        fake.system.exe_path = exe;
        fake.clock.today = "2026-12-08";
        fake.clock.set_unix(start_unix);
        fake.add_guarded_folder(data_dir);
        fake.add_guarded_folder(dir);
        fake.files.files[state_path] = old_state;
        fake.files.files[path_of("installed-setup.exe")] = old_setup;
        install("1.0.0");
        for (const std::uint32_t session : sessions) {
            fake.processes.logged_on.insert(session);
            fake.processes.run_program(main_exe, session);
        }
        const std::string sha = test_support::hex(fakes::FakeCrypto::digest_of(new_setup));
        const std::string document = "schema = 1\n[[item]]\nid = 7\ntype = \"update\"\nversion = \"2.0.0\"\n"
                                     "en = { title = \"New\", text = \"Better\" }\n[download]\nversion = \"2.0.0\"\n"
                                     "url = \"" + setup_url + "\"\nsha256 = \"" + sha + "\"\nsize = " +
                                     std::to_string(new_setup.size()) +
                                     "\n[report]\nprefix = \"https://localhost/tamsel/report/\"\n";
        fake.https.serve(feed_url, fakes::FakeHttpsResponse::body(
                                       fakes::signed_answer(fake.crypto, settings.working_key, document)));
        fake.https.serve(setup_url, fakes::FakeHttpsResponse::body(new_setup));
        fake.processes.on_start = [this](const fakes::FakeLaunch& launch) { return play(launch); };
    }

    void install(const std::string& version) {
        const VersionNumber n = read_version_number(version);
        fake.system.version_infos[main_exe] = test_support::version_info(static_cast<std::uint16_t>(n[0]),
                                                                 static_cast<std::uint16_t>(n[1]),
                                                                 static_cast<std::uint16_t>(n[2]));
    }
    // Read past the fakes, so the test's own look is not a platform call.
    std::string installed() { return version_text_from_info(fake.system.version_infos[main_exe]).value_or(""); }
    bool program_runs(std::uint32_t session) {
        for (const fakes::FakeProcess& p : fake.processes.table)
            if (p.path == main_exe && p.session_id == session && fake.processes.alive(p)) return true;
        return false;
    }

    std::vector<std::size_t> pass_starts;  // the call count at each pass's start

    // One updater process; the single-instance mutex goes with it.
    int pass(bool phase_two) {
        pass_starts.push_back(fake.faults.calls.size());
        const auto bridge = make_session_bridge(fake.platform);
        const int code = run_entry(phase_two ? std::vector<std::string>{exe, "/phase2"} : std::vector<std::string>{exe},
                                   fake.platform, settings, app::product_modes(fake.platform, *bridge));
        fake.system.mutexes.erase("Global\\Tam_Sel.Update");
        return code;
    }
    // A check run, then a phase two after every setup program it led to.
    Codes installation() {
        Codes codes{pass(false)};
        while (setups_run > 0) {
            --setups_run;
            codes.push_back(pass(true));
        }
        return codes;
    }
    Lines lines() const { return fakes::log_messages(fake.files, log_path); }

private:
    fakes::FakeStartResult play(const fakes::FakeLaunch& launch) {
        const std::uint32_t session = launch.token.empty() ? 0 : std::stoul(launch.token.substr(launch.token.find(':') + 1));
        if (launch.application == exe) return {true, 0, helper(launch.command_line.substr(exe.size() + 3), session)};
        if (launch.application.ends_with("explorer.exe")) {
            const std::uint32_t pid = fake.processes.run_program(main_exe, session);
            if (offer == Offer::never_up && installed() == "2.0.0") fake.processes.find(pid)->ends_at = fake.clock.monotonic;
            return {};
        }
        // A setup program: it cannot replace a running program.
        const auto it = fake.files.files.find(launch.application);
        const std::string carried = it == fake.files.files.end() ? "" : it->second;
        bool running = false;
        for (const std::uint32_t s : {1u, 2u, 3u}) running = running || program_runs(s);
        if (carried.starts_with("setup ") && offer == Offer::never_installs && carried != old_setup) {
            fake.files.files[path_of("installed-setup.exe")] = carried;
        } else if (!running && carried.starts_with("setup ")) {
            install(carried.substr(6, 5));
            fake.files.files[path_of("installed-setup.exe")] = carried;
        }
        ++setups_run;
        return {};
    }

    // The window helper in a session: its desktop shows the windows of the
    // program's processes there; a close message ends the program a little later.
    std::uint32_t helper(const std::string& argument, std::uint32_t session) {
        fakes::FakeDesktop desktop(fake.clock);
        desktop.faults = &fake.faults;
        std::vector<fakes::FakeProcess*> shown;
        for (fakes::FakeProcess& p : fake.processes.table) {
            if (p.path != main_exe || p.session_id != session || !fake.processes.alive(p)) continue;
            desktop.add_window(0, p.ends_at ? std::optional<std::uint64_t>(*p.ends_at - fake.clock.monotonic)
                                            : std::nullopt, "Tamsel.Hidden", p.process_id);
            shown.push_back(&p);
        }
        Platform platform{fake.account,   fake.clock,  fake.crypto,   fake.files,    fake.https,
                          fake.processes, desktop,     fake.security, fake.system,   fake.system,
                          fake.system,    fake.system, fake.system,   fake.event_log};
        const auto bridge = make_session_bridge(platform);
        const int code = run_entry({exe, argument}, platform, settings, app::product_modes(platform, *bridge));
        if (!desktop.posted.empty())
            for (fakes::FakeProcess* p : shown)
                if (!p->ends_at) p->ends_at = fake.clock.monotonic + obeys_after_ms;
        return static_cast<std::uint32_t>(code);
    }
};

// The setup program a file carries ("" when none), by the version it names.
std::string carried_version(const fakes::FakeFiles& files, const char* name) {
    const auto it = files.files.find(path_of(name));
    if (it == files.files.end()) return "";
    if (it->second == old_setup) return "1.0.0";
    if (it->second == new_setup) return "2.0.0";
    return "torn";
}

// What must hold after any run, whatever failed: the state file is a whole
// text that reads; once no installation is in flight, the installed version
// has its setup program kept as installed-setup.exe (the rollback copy is
// never lost); a downloaded setup program, where one is left, is whole; the
// log's lines are whole.
void check_machine(Machine& m, bool setup_kept = true) {
    const auto& files = m.fake.files.files;
    ASSERT_TRUE(files.count(state_path));
    const auto read = read_state(m.fake.files, state_path);
    ASSERT_TRUE(read.ok()) << files.at(state_path);
    EXPECT_EQ(state_text(*read), files.at(state_path)) << "not a whole text";
    if (setup_kept && !read->pending) EXPECT_EQ(carried_version(m.fake.files, "installed-setup.exe"), m.installed());
    const std::string downloaded = carried_version(m.fake.files, "downloaded-setup.exe");
    EXPECT_TRUE(downloaded == "" || downloaded == "2.0.0");
    const auto log = files.find(log_path);
    if (log == files.end()) return;
    for (std::size_t at = 0; at < log->second.size();) {
        const auto end = log->second.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a torn last line";
        EXPECT_GT(end - at, std::string_view("2026-12-08T00:00:00Z x 0").size() - 1);
        EXPECT_EQ(log->second[at + 19], 'Z');
        at = end + 2;
    }
}

// The next day's pass finds nothing in the way: no record is left for ever.
void next_day_leaves_no_record(Machine& m) {
    m.fake.clock.advance_ms(86'400'000);
    m.fake.clock.today = "2026-12-09";
    m.installation();
    const auto read = read_state(m.fake.files, state_path);
    ASSERT_TRUE(read.ok());
    EXPECT_FALSE(read->pending.has_value()) << "a pending record left for ever";
}

struct Outcome {
    Codes codes;
    Lines lines;
    std::vector<std::uint32_t> down = {};  // sessions left without the program at the end
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
    *out << "exit codes";
    for (const int c : o.codes) *out << " " << c;
    *out << "; program down in";
    for (const std::uint32_t s : o.down) *out << " " << s;
    for (const std::string& line : o.lines) *out << "\n    " << line;
}

std::string close_polite(std::uint32_t s) { return "close: asked politely " + std::to_string(s); }
std::string close_itself(std::uint32_t s) { return "close: the program closed by itself " + std::to_string(s); }
std::string close_ended(std::uint32_t s) { return "close: ended " + std::to_string(s); }

// The outcome the updater owes when one platform call fails, told from what
// that call is and where it falls in the fault-free run: which pass, which
// log lines were written before it, which session it concerns.
class Oracle {
public:
    Oracle(const Machine& m) : sessions_(m.sessions), calls_(m.fake.faults.calls), phase_two_(m.pass_starts.at(1)) {
        std::uint32_t helper = 0;  // the session of the window helper whose calls follow, or 0
        bool in_entry = true;
        for (std::size_t i = 0; i < calls_.size(); ++i) {
            const std::string& op = calls_[i];
            if (i == phase_two_) in_entry = true;
            in_entry = in_entry && (op.starts_with("account.") || op.starts_with("security.") ||
                                    op.starts_with("files.attributes") || op == "system.own_path" ||
                                    op == "system.known_folder" || op == "system.create_mutex" ||
                                    op.starts_with("files.open_exclusive") || op == "system.private_mutex");
            // A helper's calls: its entry's, finding its own program's path, and its looks at windows.
            if (!op.starts_with("account.") && !op.starts_with("desktop.") && op != "system.own_path" &&
                !op.starts_with("processes.image_path ") && !op.starts_with("processes.final_path"))
                helper = 0;
            if (op.starts_with("processes.start [own:")) helper = static_cast<std::uint32_t>(std::stoul(op.substr(21)));
            const bool log_call = op.ends_with("updater.log") ||
                                  (op == "clock.now" && i + 1 < calls_.size() && calls_[i + 1].ends_with("updater.log"));
            info_.push_back({lines_, in_entry, log_call, op.starts_with("processes.start") ? 0 : helper});
            if (op.starts_with("files.write") && op.ends_with("updater.log")) ++lines_;
        }
    }

    Outcome expect(std::size_t i) const {
        const std::string& op = calls_[i];
        const Info& at = info_[i];
        const bool phase_two = i >= phase_two_;
        const std::size_t n = sessions_.size();
        const auto is = [&](std::string_view prefix) { return op.starts_with(prefix); };
        const auto about = [&](std::string_view path) { return op.find(path) != std::string::npos; };
        // A failure's line carries the error the failed call reported.
        const std::string cause = " " + std::to_string(fakes::Faults{}.error);

        // A failed event report changes nothing at all.
        if (is("event_log.")) return base();
        if (is("https.get_status")) {  // the report of "updated": only its line changes
            Outcome o = base();
            o.lines.back() = "report not sent" + cause;
            return o;
        }
        if (at.log_call) {  // a lost line; a size or clock that fails costs nothing
            if (is("files.size") || is("clock.now")) return base();
            Outcome o = base();
            o.lines.erase(o.lines.begin() + static_cast<std::ptrdiff_t>(at.line));
            return o;
        }
        if (at.in_entry) {
            int code = 0;
            if (is("account.process_user") || (is("account.is_well_known") && calls_[i - 1] == "account.process_user"))
                code = exit_code::not_system_account;
            else if (is("system.own_path") || is("system.known_folder")) code = exit_code::own_folder_missing;
            // The old mutex name and a private namespace the system does not
            // offer decide nothing; phase two tries the lock file again.
            else if (is("system.create_mutex") || is("system.private_mutex")) code = 0;
            else if (is("files.open_exclusive")) code = phase_two ? 0 : exit_code::another_pass_runs;
            else if (!is("account.is_well_known") || trusted_answer(op)) code = exit_code::folder_refused;
            if (code == 0) return base();
            // A phase two that cannot start leaves the program closed until a
            // later check run gives the installation up.
            return phase_two ? Outcome{{0, code}, check_run_lines(), sessions_} : Outcome{{code}, {}};
        }
        if (!phase_two) {
            if (about("state.toml") && at.line == 0 && !is("files.create") && !is("files.write") &&
                !is("files.flush") && !is("files.replace"))
                return {{exit_code::state_unusable}, {"state unreadable" + cause}};
            if (is("system.date")) return {{0}, {"no date" + cause}};
            if (about("state.toml.tmp") && at.line == 0)
                return {{exit_code::state_unusable}, {"state not written" + cause}};
            if (about("news.toml")) return {{0}, {"feed request 0", "feed: no answer" + cause}};
            if (is("crypto.") && !download_started(i)) return {{0}, {"feed request 0", "feed signature did not verify 0"}};
            if (is("system.version_info")) return {{0}, {"feed request 0", "nothing to install: not newer 0"}};
            if (about("files/Tamsel"))
                return {{0}, {"feed request 0", "download refused: network or oversize" + cause}};
            // The digest's failures are no file error.
            if (at.line == 1 && is("crypto.")) return {{0}, {"feed request 0", "download refused: disk 0"}};
            if (at.line == 1 && (about("downloaded-setup.part -> ") || (about(".part") && !is("files.remove"))))
                return {{0}, {"feed request 0", "download refused: disk" + cause}};
            if (about("state.toml.tmp"))
                return {{exit_code::state_unusable}, {"feed request 0", "download verified 0", "state not written" + cause}};
            if (is("processes.start []")) {
                Lines lines = check_run_lines();
                lines.pop_back();
                reported(lines, "setup not started" + cause);
                return {{0}, lines};
            }
            const bool census_at_start = at.line == 2 && !record_written(i);
            if (is("processes.enumerate") && census_at_start)
                return {{0},
                        {"feed request 0", "download verified 0", "the program could not be closed: nothing installed" + cause}};
            if (at.line < 2 || at.line >= 2 + 2 * n) return base();
            // Closing session c: asking (and the census before it), then the polite wait.
            const std::size_t c = (at.line - 2) / 2;
            const std::uint32_t s = sessions_[c];
            const bool asking = (at.line - 2) % 2 == 0;
            // Any failure inside the close helper leaves the program open: it is ended by force.
            if (asking && at.helper != 0) return closed_by_force(s, close_polite(s));
            if (is("processes.image_path ")) {
                // The census skips that session's process: the program counts as running elsewhere only.
                const auto listed = static_cast<std::uint32_t>(std::stoul(op.substr(21)));
                if (census_at_start) return skipped_close(listed);
                // While closing, a process that cannot be read may still be the program: the close goes on.
                return base();
            }
            if (asking && (is("system.own_path") || is("processes.duplicate_token") || is("processes.set_session") ||
                           is("processes.start [own:")))
                return closed_by_force(s, "close: the helper did not start " + std::to_string(s));
            if (!asking && is("clock.now") && after_log_line(i))  // the polite deadline
                return closed_by_force(s, close_polite(s));
            return base();
        }
        // Without the state, phase two cannot know where to start the program again.
        if (about("state.toml") && !about(".tmp") && !is("files.replace"))
            return {{0, exit_code::state_unusable}, with("state unreadable" + cause), sessions_};
        const auto failed_window = [&](std::uint32_t s) {
            return "raise: the program's window did not appear or did not live " + std::to_string(s);
        };
        // What the raise could not watch is no verdict on the version.
        const auto unwatched = [&](const Lines& raise_lines) {
            Lines lines = check_run_lines();
            lines.insert(lines.end(), raise_lines.begin(), raise_lines.end());
            reported(lines, "updated 0");
            return Outcome{{0, 0}, lines};
        };
        const auto no_verdict = [&](std::uint32_t s) { return "raise: the window helper gave no verdict " + std::to_string(s); };
        if (at.helper != 0) {
            // A helper that cannot tell it runs as the system account ends with 2:
            // not the verdict of one that watched the window die (8).
            if (is("account.")) return unwatched({no_verdict(at.helper)});
            // A failed look for the window is only a look that found none: the next one finds it.
            const bool a_look = is("desktop.find_windows") || is("desktop.window_process") ||
                                is("processes.image_path ") || is("processes.final_path");
            return a_look ? base() : rolled_back({failed_window(at.helper)});
        }
        if (is("system.version_info")) return {{0, 0}, with("setup did not install 0")};
        if (is("processes.user_token "))
            return {{0, 0}, with("raise: nobody in the session " + op.substr(21), "updated 0"),
                    {static_cast<std::uint32_t>(std::stoul(op.substr(21)))}};
        if (is("system.known_folder") || is("processes.start [user:")) {
            const std::uint32_t s = is("system.known_folder") ? raise_session(i)
                                                               : static_cast<std::uint32_t>(std::stoul(op.substr(22)));
            // Not a verdict on the version: it stays, and the program stays down there.
            Outcome o = unwatched({"raise: start refused " + std::to_string(s)});
            o.down = {s};
            return o;
        }
        if (is("system.own_path")) {
            Lines lines;
            for (const std::uint32_t s : sessions_) lines.push_back("raise: the window helper did not start " + std::to_string(s));
            return unwatched(lines);
        }
        if (is("processes.duplicate_token") || is("processes.set_session") || is("processes.start [own:")) {
            const std::string next = is("processes.duplicate_token") ? calls_[i + 1] : op;
            const std::uint32_t s = static_cast<std::uint32_t>(
                std::stoul(next.substr(next.starts_with("processes.set_session") ? 22 : 21)));
            return unwatched({"raise: the window helper did not start " + std::to_string(s)});
        }
        if (is("processes.wait") || is("processes.exit_code")) return unwatched({no_verdict(wait_session(i))});
        return base();
    }

private:
    struct Info {
        std::size_t line;  // log lines written before the call
        bool in_entry;     // the entry's checks, before the log exists
        bool log_call;     // part of writing a log line
        std::uint32_t helper;  // the session of the window helper making the call, or 0
    };

    Lines check_run_lines() const {
        Lines lines{"feed request 0", "download verified 0"};
        for (const std::uint32_t s : sessions_) {
            lines.push_back(close_polite(s));
            lines.push_back(close_itself(s));
        }
        lines.push_back("setup started 0");
        return lines;
    }
    Outcome base() const { return {{0, 0}, with("updated 0")}; }
    Lines with(const std::string& a, const std::string& b = "") const {
        Lines lines = check_run_lines();
        reported(lines, a);
        if (!b.empty()) reported(lines, b);
        return lines;
    }
    // The feed asks for reports: each reported outcome's line is followed by its report's.
    static void reported(Lines& lines, const std::string& line) {
        lines.push_back(line);
        if (line == "updated 0" || line == "setup did not install 0" || line == "did not start: rollback started 0" ||
            line.starts_with("setup not started"))
            lines.push_back("report sent 0");
    }
    Outcome closed_by_force(std::uint32_t s, const std::string& first) const {
        Outcome o = base();
        const auto it = std::find(o.lines.begin(), o.lines.end(), close_polite(s));
        it[0] = first;
        it[1] = close_ended(s);
        return o;
    }
    Outcome skipped_close(std::uint32_t s) const {
        Lines lines = with("setup did not install 0");
        std::erase(lines, close_polite(s));
        std::erase(lines, close_itself(s));
        return {{0, 0}, lines};
    }
    // The new version does not come up: closed again where it runs, rolled back.
    Outcome rolled_back(Lines raise_lines) const {
        Lines lines = check_run_lines();
        lines.insert(lines.end(), raise_lines.begin(), raise_lines.end());
        for (const std::uint32_t s : sessions_) {
            lines.push_back(close_polite(s));
            lines.push_back(close_itself(s));
        }
        reported(lines, "did not start: rollback started 0");
        lines.push_back("rolled back 0");
        return {{0, 0, 0}, lines};
    }
    // Whether call i comes right after a log line (and its event).
    bool after_log_line(std::size_t i) const {
        std::size_t j = i - 1;
        while (j > 0 && calls_[j].starts_with("event_log.")) --j;
        return calls_[j].ends_with("updater.log");
    }
    static bool trusted_answer(const std::string& op) {
        return op.ends_with("SY 0") || op.ends_with("AD 1") || op.ends_with("CO 2");
    }
    bool download_started(std::size_t i) const {
        for (std::size_t j = i; j-- > 0;)
            if (calls_[j].starts_with("files.create") && calls_[j].ends_with(".part")) return true;
        return false;
    }
    bool record_written(std::size_t i) const {
        for (std::size_t j = i; j-- > 0 && info_[j].line == 2;)
            if (calls_[j].ends_with("state.toml.tmp -> " + state_path)) return true;
        return false;
    }
    // The session whose start a raise is at: the user token asked for last.
    std::uint32_t raise_session(std::size_t i) const {
        for (std::size_t j = i; j-- > 0;)
            if (calls_[j].starts_with("processes.user_token ")) return static_cast<std::uint32_t>(std::stoul(calls_[j].substr(21)));
        return 0;
    }
    // Helpers are waited for in session order.
    std::uint32_t wait_session(std::size_t i) const {
        std::size_t k = 0;
        for (std::size_t j = phase_two_; j <= i; ++j) k += calls_[j] == "processes.wait";
        return sessions_.at(k - 1);
    }

    std::vector<std::uint32_t> sessions_;
    std::vector<std::string> calls_;
    std::size_t phase_two_;
    std::vector<Info> info_;
    std::size_t lines_ = 0;
};

const std::vector<std::vector<std::uint32_t>> session_layouts = {{1}, {1, 2}};

TEST(Robustness, EveryPlatformCallFailingInTurn) {
    const auto started = std::chrono::steady_clock::now();
    std::size_t faults = 0;
    for (const auto& sessions : session_layouts) {
        Machine clean(sessions);
        const Codes codes = clean.installation();
        ASSERT_EQ(clean.installed(), "2.0.0");
        const Oracle oracle(clean);
        // The last call (the state written after "updated") fails harmlessly.
        ASSERT_EQ(oracle.expect(clean.fake.faults.calls.size() - 1), (Outcome{codes, clean.lines()}));
        for (std::size_t i = 0; i < clean.fake.faults.calls.size(); ++i) {
            SCOPED_TRACE("call " + std::to_string(i) + " fails: " + clean.fake.faults.calls[i] + " (" +
                         std::to_string(sessions.size()) + " sessions)");
            Machine m(sessions);
            m.fake.faults.fail_call = i;
            Outcome got;
            try {
                got.codes = m.installation();
            } catch (...) {
                ADD_FAILURE() << "an exception escaped";
                continue;
            }
            got.lines = m.lines();
            for (const std::uint32_t s : sessions)
                if (!m.program_runs(s)) got.down.push_back(s);
            ASSERT_EQ(m.fake.faults.calls.at(i), clean.fake.faults.calls[i]) << "the run went another way before the fault";
            EXPECT_EQ(got, oracle.expect(i));
            check_machine(m);
            ++faults;
        }
    }
    std::printf("%zu injected faults in %.1f s\n", faults,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// The installations that go wrong by themselves, with each platform call
// failing in turn. No exact oracle here: what must hold is what holds after
// any run (check_machine), that no later day is blocked, and that the
// installed version's setup is never lost to the failed one.
TEST(Robustness, EveryPlatformCallFailingInTurnWhenTheOfferFails) {
    struct Scenario {
        Offer offer;
        Lines clean_ending;
    };
    const std::vector<Scenario> scenarios = {
        {Offer::never_installs, {"setup did not install 0", "report sent 0"}},
        {Offer::never_up, {"report sent 0", "rolled back 0"}},
    };
    std::size_t faults = 0;
    for (const Scenario& scenario : scenarios) {
        for (const auto& sessions : session_layouts) {
            Machine clean(sessions, scenario.offer);
            clean.installation();
            const Lines lines = clean.lines();
            ASSERT_GE(lines.size(), 2u);
            ASSERT_EQ(Lines(lines.end() - 2, lines.end()), scenario.clean_ending);
            ASSERT_EQ(clean.installed(), "1.0.0");
            const std::vector<std::string> calls = clean.fake.faults.calls;
            check_machine(clean);
            for (std::size_t i = 0; i < calls.size(); ++i) {
                SCOPED_TRACE("call " + std::to_string(i) + " fails: " + calls[i] + " (" +
                             std::to_string(sessions.size()) + " sessions, offer " +
                             std::to_string(static_cast<int>(scenario.offer)) + ")");
                Machine m(sessions, scenario.offer);
                m.fake.faults.fail_call = i;
                try {
                    m.installation();
                } catch (...) {
                    ADD_FAILURE() << "an exception escaped";
                    continue;
                }
                ASSERT_EQ(m.fake.faults.calls.at(i), calls[i]) << "the run went another way before the fault";
                m.fake.faults.fail_call.reset();
                // Where installed-setup.exe could not be set aside, a setup
                // that leaves itself without installing writes over it; where
                // the installed version cannot be read, nobody can tell which
                // setup is its own. No pass of the updater can undo either.
                const std::string& failed = calls[i];
                const bool not_set_aside = failed.ends_with("installed-setup.exe") ||
                                           failed.ends_with("installed-setup.exe -> " + path_of("rollback-setup.exe"));
                const bool version_unknown = failed.starts_with("system.version_info") && i >= clean.pass_starts.at(1);
                const bool setup_kept =
                    !(scenario.offer == Offer::never_installs && (not_set_aside || version_unknown));
                check_machine(m, setup_kept);
                next_day_leaves_no_record(m);
                check_machine(m, setup_kept);
                ++faults;
            }
        }
    }
    std::printf("%zu injected faults on the failure paths\n", faults);
}

// After a power cut the machine starts again: every process is gone, the
// users log on again and the program starts in their sessions.
void restart(Machine& m) {
    for (fakes::FakeProcess& p : m.fake.processes.table)
        if (m.fake.processes.alive(p)) p.ends_at = m.fake.clock.monotonic;
    m.fake.system.mutexes.clear();
    m.fake.files.crash_after.reset();
    for (const std::uint32_t s : m.sessions) m.fake.processes.run_program(main_exe, s);
}

TEST(Robustness, APowerCutAfterEveryFileOperation) {
    const auto started = std::chrono::steady_clock::now();
    std::size_t crashes = 0;
    for (const Offer offer : {Offer::good, Offer::never_installs, Offer::never_up})
    for (const auto& sessions : session_layouts) {
        Machine clean(sessions, offer);
        clean.installation();
        for (const bool harsh : {false, true}) {
            for (std::size_t n = 0; n < clean.fake.files.changes; ++n) {
                SCOPED_TRACE("power cut after file operation " + std::to_string(n) + (harsh ? ", unflushed writes lost" : "") +
                             " (" + std::to_string(sessions.size()) + " sessions, offer " +
                             std::to_string(static_cast<int>(offer)) + ")");
                Machine m(sessions, offer);
                m.fake.files.crash_after = n;
                m.fake.files.lose_unflushed_on_crash = harsh;
                bool cut = false;
                try {
                    m.installation();
                } catch (const fakes::PowerCut&) {
                    cut = true;
                }
                ASSERT_TRUE(cut);
                restart(m);
                // The passes that follow: phase two if a setup program ran, then
                // the next check runs an hour and a day later, each with the
                // phase twos of the setups they start.
                const auto state_reads = [&](const char* when) {
                    EXPECT_TRUE(read_state(m.fake.files, state_path).ok()) << when;
                };
                const auto owed_phase_twos = [&] {
                    while (m.setups_run > 0) {
                        --m.setups_run;
                        m.pass(true);
                        state_reads("after phase two");
                    }
                };
                state_reads("after the power cut");
                owed_phase_twos();
                m.fake.clock.advance_ms(3'600'000);
                m.installation();
                state_reads("an hour later");
                // The record owns the copy before it is set aside, so the
                // give-up puts it back wherever the cut fell.
                EXPECT_EQ(carried_version(m.fake.files, "installed-setup.exe"), m.installed());
                next_day_leaves_no_record(m);
                EXPECT_TRUE(m.installed() == "2.0.0" || m.installed() == "1.0.0");
                check_machine(m);
                ++crashes;
            }
        }
    }
    std::printf("%zu power cuts in %.1f s\n", crashes,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

}  // namespace
}  // namespace tamsel
