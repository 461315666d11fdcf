#include "update/decision.h"

#include <algorithm>

#include "feed/https_address.h"
#include "update/rollout.h"
#include "update/version.h"

namespace tamsel {
namespace {

bool holds(const std::vector<std::string>& list, std::string_view text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

LogMessage verdict_message(Verdict verdict) {
    switch (verdict) {
    case Verdict::working_key_revoked: return "refused: the working key is revoked";
    case Verdict::no_download: return "nothing to install: no [download]";
    case Verdict::download_malformed: return "refused: [download] malformed";
    case Verdict::stop_malformed: return "refused: [stop] malformed";
    case Verdict::no_update_entry: return "refused: no update entry of the version";
    case Verdict::not_newer: return "nothing to install: not newer";
    case Verdict::version_stopped: return "refused: the version is stopped";
    case Verdict::version_failed_before: return "refused: the version failed here before";
    case Verdict::foreign_address: return "refused: foreign address";
    case Verdict::over_size_limit: return "refused: over 16 MB";
    case Verdict::disabled_by_policy: return "nothing to install: disabled by policy";
    case Verdict::held_by_policy: return "nothing to install: held by policy";
    case Verdict::not_yet_in_rollout: return "nothing to install: not yet in the rollout";
    case Verdict::deferred_while_running: return "nothing to install: deferred while the program runs";
    }
    return "refused: [download] malformed";
}

bool take_in_stop_order(State& state, const Feed& feed, KeyUsed key_used) {
    if (key_used != KeyUsed::reserve || !feed.stop.present()) return false;
    bool changed = false;
    if (feed.stop.value.revoke_working && !state.working_key_revoked) {
        state.working_key_revoked = true;
        changed = true;
    }
    for (const std::string& version : feed.stop.value.versions) {
        if (!holds(state.stopped, version)) {
            state.stopped.push_back(version);
            changed = true;
        }
    }
    return changed;
}

bool is_under_files_prefix(std::string_view url, std::string_view files_prefix) {
    if (url.substr(0, files_prefix.size()) != files_prefix || url.size() < files_prefix.size()) return false;
    std::string_view rest = url.substr(files_prefix.size());
    if (rest.empty() || rest.size() > address_tail_limit) return false;
    while (true) {
        const auto slash = rest.find('/');
        if (!is_plain_path_part(rest.substr(0, slash))) return false;
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}

bool feed_earns(Verdict verdict, const Feed& feed, KeyUsed key_used, std::string_view files_prefix) {
    const Download& offer = feed.download.value;
    // Only the reserve key's stop order counts; the working key's is ignored.
    const bool reserve = key_used == KeyUsed::reserve;
    switch (verdict) {
    case Verdict::no_update_entry: return !feed.update_entry || feed.update_entry->version != offer.version;
    case Verdict::stop_malformed: return reserve && feed.stop.malformed();
    case Verdict::version_stopped:
        return reserve && feed.stop.present() && holds(feed.stop.value.versions, offer.version);
    case Verdict::foreign_address: return !is_under_files_prefix(offer.url, files_prefix);
    case Verdict::over_size_limit: return offer.size > download_size_limit;
    default: return false;
    }
}

std::variant<Download, Verdict> decide_update(KeyUsed key_used, const Feed& feed, const State& state,
                                              const Machine& machine) {
    if (key_used == KeyUsed::working && state.working_key_revoked) return Verdict::working_key_revoked;
    // After the revocation test, which is the feed's own refusal: the stop
    // order was taken in before this, whatever the policy.
    if (machine.policies.updates_disabled) return Verdict::disabled_by_policy;
    if (feed.download.absent()) return Verdict::no_download;
    if (feed.download.malformed()) return Verdict::download_malformed;
    const Download& offer = feed.download.value;
    const auto earns = [&](Verdict verdict) { return feed_earns(verdict, feed, key_used, machine.files_prefix); };
    if (earns(Verdict::no_update_entry)) return Verdict::no_update_entry;
    if (machine.installed_version.empty() || !is_newer_than_installed(offer.version, machine.installed_version))
        return Verdict::not_newer;
    for (const Verdict verdict : {Verdict::stop_malformed, Verdict::version_stopped})
        if (earns(verdict)) return verdict;
    if (holds(state.stopped, offer.version)) return Verdict::version_stopped;
    if (holds(state.failed, offer.version)) return Verdict::version_failed_before;
    for (const Verdict verdict : {Verdict::foreign_address, Verdict::over_size_limit})
        if (earns(verdict)) return verdict;
    if (held_by_policy(machine.policies, offer.version)) return Verdict::held_by_policy;
    // A staged rollout holds the offer back until this machine's wave is due.
    if (offer.rollout && !rollout_reached(*offer.rollout, machine.rollout_wave, machine.today))
        return Verdict::not_yet_in_rollout;
    if (machine.policies.defer_while_running && machine.program_running) return Verdict::deferred_while_running;
    return offer;
}

}  // namespace tamsel
