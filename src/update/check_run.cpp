#include <string>

#include "common/client_limits.h"
#include "common/utf8.h"
#include "entry/exit_codes.h"
#include "entry/paths.h"
#include "feed/https_address.h"
#include "feed/signature.h"
#include "session/census.h"
#include "session/session_bridge.h"
#include "state/state.h"
#include "update/check_run.h"
#include "update/decision.h"
#include "update/installation.h"
#include "update/installer.h"
#include "update/policies.h"
#include "update/report.h"
#include "update/rollout.h"
#include "update/version.h"

namespace tamsel {
namespace {

constexpr const char* date_picture = "yyyy'-'MM'-'dd";

// The answer; a failure's cause is the fetch's error or status, or 0 for an
// answer that is no text.
Result<std::string> fetch_feed(const RunContext& context, Https& https) {
    const auto address = split_https_address(context.feed_url);
    if (!address) return Failure{};
    HttpsRequest request;
    request.host = address->host;
    request.path = address->path;
    std::string answer;
    BodySink sink;
    sink.limit = feed_answer_limit;
    sink.write = [&answer](std::span<const std::uint8_t> chunk) {
        answer.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        return true;
    };
    if (const auto fetched = https.https_get(request, sink); !fetched) return fetched.error();
    if (!is_valid_utf8(answer)) return Failure{};
    return answer;
}

}  // namespace

int check_run(const RunContext& context, Log& log, Platform& platform, SessionBridge& bridge) {
    const std::string state_path = UpdateFolder{context.update_dir}.state();
    auto read = read_state(platform.files, state_path);
    if (!read) {
        log.write("state unreadable", read.cause());
        return exit_code::state_unusable;
    }
    State state = std::move(*read);

    if (state.pending && settle_pending(context, log, state, platform, bridge) == Settled::in_flight)
        return exit_code::done;

    const auto today_text = platform.clock.local_date_text(date_picture);
    const auto today = today_text ? parse_calendar_date(*today_text) : std::nullopt;
    if (!today) {
        log.write("no date", today_text.cause());
        return exit_code::done;
    }
    // Once a day, silently; a day whose last pass deferred stays open, hourly.
    if (state.last_try == today && !deferred_retry_due(state.deferred_at, unix_now(platform.clock)))
        return exit_code::done;
    state.last_try = today;
    state.deferred_at.reset();
    if (const auto written = write_state(platform.files, state, state_path); !written) {
        log.write("state not written", written.cause());
        return exit_code::state_unusable;
    }

    const Policies policies = read_policies(platform.registry);
    log_policies(log, policies);
    PolicyHttps https(platform.https, policies.proxy);
    // The installation's download goes through the same proxy as the feed.
    Platform routed{
            platform.account,      platform.clock,    platform.crypto,          platform.files,    https,
            platform.processes,    platform.desktop,  platform.security,        platform.folders,  platform.mutexes,
            platform.version_info, platform.registry, platform.standard_output, platform.event_log};

    log.write("feed request", 0);
    const auto answer = fetch_feed(context, https);
    if (!answer) {
        log.write("feed: no answer", answer.cause());
        return exit_code::done;
    }
    const auto split = split_feed_answer(*answer);
    if (const auto* error = std::get_if<FeedError>(&split)) {
        log.write(feed_error_message(*error), 0);
        return exit_code::done;
    }
    const FeedAnswer& signed_answer = std::get<FeedAnswer>(split);
    const auto key_used = verify_feed_signature(platform.crypto, signed_answer.document, signed_answer.signature,
                                                context.working_key, context.reserve_key);
    if (!key_used) {
        log.write(feed_error_message(FeedError::signature), 0);
        return exit_code::done;
    }
    const auto parsed = parse_feed(signed_answer.document);
    if (const auto* error = std::get_if<FeedError>(&parsed)) {
        log.write(feed_error_message(*error), 0);
        return exit_code::done;
    }
    const Feed& feed = std::get<Feed>(parsed);

    if (take_in_stop_order(state, feed, *key_used)) {
        log.write("the reserve key spoke: [stop] taken in", 0);
        // Not checked: the next pass reads whatever the file then holds.
        write_state(platform.files, state, state_path);
    }

    // The feed was fetched and verified and its stop order taken in even
    // while updates are off. The installed version is read only now.
    Machine machine{installed_version_text(platform.version_info, context.main_exe).value_or(""), context.files_prefix,
                    policies, *today};
    if (feed.download.present() && feed.download.value.rollout)
        machine.rollout_wave = machine_rollout_wave(platform, *feed.download.value.rollout,
                                                    feed.download.value.version);
    // A census that fails counts as the program running: nothing is closed
    // on a guess.
    if (policies.defer_while_running) {
        const auto census = take_census(platform.processes, context.main_exe);
        machine.program_running = !census || !census->empty();
    }
    const auto decision = decide_update(*key_used, feed, state, machine);
    if (const auto* verdict = std::get_if<Verdict>(&decision)) {
        log.write(verdict_message(*verdict), 0);
        // A deferred day stays open: later passes of the day try again hourly.
        if (*verdict == Verdict::deferred_while_running) {
            state.deferred_at = unix_now(platform.clock);
            // Not checked: a lost mark only means the day is used up.
            write_state(platform.files, state, state_path);
        }
        return exit_code::done;
    }
    return start_installation(context, log, state, std::get<Download>(decision), machine.installed_version, routed,
                              bridge, check_run_reports_to(feed, context, policies));
}

}  // namespace tamsel
