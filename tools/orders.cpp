#include "tools/orders.h"

#include <algorithm>
#include <sstream>

#include "common/toml.h"
#include "common/utf8.h"
#include "feed/feed.h"
#include "feed/signature.h"
#include "state/state.h"
#include "update/decision.h"
#include "tools/feed_rules.h"
#include "tools/toml_text.h"

namespace tamsel::tool {
namespace {

Failure refuse(std::string reason) { return Failure{std::move(reason)}; }

// The current feed: its document read as TOML and by the updater's code,
// and its signature when it is an answer.
struct Current {
    toml::table root;
    Feed feed;
    std::string document;
    std::optional<Signature> signature;
};

std::variant<Current, Failure> read_current(std::string_view file) {
    if (!is_valid_utf8(file)) return refuse("the current feed is not UTF-8");
    Current current;
    std::string_view document = file;
    if (looks_signed(file)) {
        const auto split = split_feed_answer(file);
        if (const auto* error = std::get_if<FeedError>(&split))
            return refuse("the current feed: " + std::string(feed_error_message(*error)));
        const FeedAnswer& answer = std::get<FeedAnswer>(split);
        document = answer.document;
        current.signature = answer.signature;
    }
    toml::parse_result parsed = toml::parse(document, std::string_view{"current news.toml"});
    if (!parsed) return refuse("the current feed is no TOML; run tamsel-feed lint on it");
    auto feed = parse_feed(document);
    if (!std::holds_alternative<Feed>(feed))
        return refuse("the current feed is refused by the updater; run tamsel-feed lint on it");
    current.root = std::move(parsed.table());
    current.feed = std::get<Feed>(std::move(feed));
    current.document = std::string(document);
    return current;
}

// Whether this key signed the current feed.
bool signed_by(const Current& current, EVP_PKEY* key) {
    const auto public_key = public_key_bytes(key);
    return current.signature && public_key && verify_document(*public_key, current.document, *current.signature);
}

std::variant<Order, Failure> finish(Order order, const toml::table& root, EVP_PKEY* key) {
    order.document = toml_text(root);
    const auto parsed = parse_feed(order.document);
    if (!std::holds_alternative<Feed>(parsed)) return refuse("the new document would be refused by the updater");
    const auto signature = sign_document(key, order.document);
    if (!signature) return refuse("signing failed");
    order.answer = feed_answer(*signature, order.document);
    if (order.answer.size() > feed_answer_limit) {
        return refuse("the feed answer would have " + std::to_string(order.answer.size()) +
                      " bytes; clients take at most 262144 (they would log \"feed: no answer\")");
    }
    return order;
}

}  // namespace

CarryCheck check_stop_carried(std::string_view file, EVP_PKEY* next_signer) {
    CarryCheck check;
    auto read = read_current(file);
    if (!std::holds_alternative<Current>(read)) return check;  // judged by the caller's own reading
    const Current& current = std::get<Current>(read);
    if (current.feed.stop.absent() || signed_by(current, next_signer)) return check;
    if (current.feed.stop.present() && current.feed.stop.value.revoke_working) {
        check.refusal = refuse(
            "the current feed revokes the working key and another key signed it: clients that read it refuse "
            "every feed the working key signs, and the others would never learn of the revocation; sign with "
            "the reserve key");
        return check;
    }
    check.note =
        "the [stop] section is carried on, but it counts only in a feed signed with the reserve key: clients "
        "that have not yet read a reserve-signed feed with it will not take it in from this one";
    return check;
}

std::variant<Order, Failure> prepare_stop(const StopRequest& request) {
    if (request.versions.empty() && !request.revoke_working)
        return refuse("a stop order needs --versions, --revoke-working or both");
    for (const std::string& version : request.versions) {
        if (version.empty()) return refuse("an empty version text stops nothing");
    }
    auto read = read_current(request.current);
    if (const auto* failure = std::get_if<Failure>(&read)) return *failure;
    Current& current = std::get<Current>(read);

    Order order;
    // A stop order in force stays in force: its versions first, then the new
    // ones, each once; a revocation is never taken back.
    if (current.feed.stop.present()) {
        order.stopped = current.feed.stop.value.versions;
        order.revokes_working = current.feed.stop.value.revoke_working;
        if (!signed_by(current, request.key)) {
            order.notes.push_back("the current feed's [stop] was not signed with this key; its versions are "
                                  "taken into the new stop order");
        }
    } else if (current.feed.stop.malformed()) {
        order.notes.push_back("the current feed's [stop] is malformed and is replaced");
    }
    for (const std::string& version : request.versions) {
        if (std::find(order.stopped.begin(), order.stopped.end(), version) == order.stopped.end())
            order.stopped.push_back(version);
    }
    order.revokes_working = order.revokes_working || request.revoke_working;

    toml::table root = current.root;
    toml::array versions;
    for (const std::string& version : order.stopped) versions.push_back(version);
    root.insert_or_assign("stop", toml::table{{"versions", std::move(versions)}, {"revoke_working", order.revokes_working}});
    const Download& offer = current.feed.download.value;
    if (!request.keep_offer) {
        root.erase("download");
    } else if (!current.feed.download.present()) {
        root.erase("download");
        if (current.feed.download.malformed()) order.notes.push_back("the malformed [download] is dropped");
    } else if (std::find(order.stopped.begin(), order.stopped.end(), offer.version) != order.stopped.end()) {
        root.erase("download");
        order.notes.push_back("the offer of " + offer.version + " is dropped: that version is stopped");
    } else {
        order.offer_kept = true;
    }
    return finish(std::move(order), root, request.key);
}

std::variant<Order, Failure> prepare_withdraw(const WithdrawRequest& request) {
    auto read = read_current(request.current);
    if (const auto* failure = std::get_if<Failure>(&read)) return *failure;
    Current& current = std::get<Current>(read);
    if (current.feed.download.absent()) return refuse("the current feed offers nothing: it has no [download]");
    const CarryCheck carry = check_stop_carried(request.current, request.key);
    if (carry.refusal) return *carry.refusal;

    Order order;
    if (carry.note) order.notes.push_back(*carry.note);
    if (current.feed.stop.present()) {
        order.stopped = current.feed.stop.value.versions;
        order.revokes_working = current.feed.stop.value.revoke_working;
    }
    toml::table root = current.root;
    root.erase("download");
    return finish(std::move(order), root, request.key);
}

}  // namespace tamsel::tool
