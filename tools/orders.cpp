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

// The current feed, verified: its document read as TOML and by the
// updater's code, and which of the client's keys signed it.
struct Current {
    toml::table root;
    Feed feed;
    KeyUsed signer = KeyUsed::working;
};

std::variant<Current, Failure> read_current(std::string_view file, const ClientKeys& keys, const std::string& name) {
    const auto signer = verify_carried(file, keys, name);
    if (const auto* failure = std::get_if<Failure>(&signer)) return *failure;
    const std::string_view document = std::get<FeedAnswer>(split_feed_answer(file)).document;
    Current current;
    current.signer = std::get<KeyUsed>(signer);
    toml::parse_result parsed = toml::parse(document, std::string_view{"current news.toml"});
    if (!parsed) return refuse(name + " is no TOML; run tamsel-feed lint on it");
    auto feed = parse_feed(document);
    if (!std::holds_alternative<Feed>(feed))
        return refuse(name + " is refused by the updater; run tamsel-feed lint on it");
    current.root = std::move(parsed.table());
    current.feed = std::get<Feed>(std::move(feed));
    return current;
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
                      " bytes; clients take at most 262144 (they would log " + said("feed: no answer") + ")");
    }
    return order;
}

}  // namespace

std::variant<KeyUsed, Failure> verify_carried(std::string_view file, const ClientKeys& keys, const std::string& name) {
    if (!is_valid_utf8(file)) return refuse(name + " is not UTF-8");
    if (!looks_signed(file)) {
        return refuse(name +
                      " is no signed feed answer, so nothing in it can be verified; give the answer as "
                      "published");
    }
    const auto split = split_feed_answer(file);
    if (const auto* error = std::get_if<FeedError>(&split))
        return refuse(name + ": " + std::string(feed_error_message(*error)));
    const FeedAnswer& answer = std::get<FeedAnswer>(split);
    if (verify_document(keys.working, answer.document, answer.signature)) return KeyUsed::working;
    if (verify_document(keys.reserve, answer.document, answer.signature)) return KeyUsed::reserve;
    return refuse(name + " does not verify with the client's working or reserve key (\"" +
                  std::string(feed_error_message(FeedError::signature)) +
                  "\"): it may have been changed since it was signed; take it from your own publish tree");
}

std::optional<KeyUsed> client_role(EVP_PKEY* key, const ClientKeys& keys) {
    const auto public_key = public_key_bytes(key);
    if (public_key == keys.working) return KeyUsed::working;
    if (public_key == keys.reserve) return KeyUsed::reserve;
    return std::nullopt;
}

CarryCheck check_stop_carried(std::string_view file, KeyUsed signer, KeyUsed next_signer) {
    CarryCheck check;
    const auto feed = parse_feed(std::get<FeedAnswer>(split_feed_answer(file)).document);
    const Stop* stop = std::holds_alternative<Feed>(feed) && std::get<Feed>(feed).stop.present()
                               ? &std::get<Feed>(feed).stop.value
                               : nullptr;
    if (!std::holds_alternative<Feed>(feed) || std::get<Feed>(feed).stop.absent() || signer == next_signer)
        return check;
    if (stop != nullptr && stop->revoke_working) {
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

namespace {

// Whether the feed offers or announces that version: its [download] or one
// of its update items.
bool ever_offered(const Current& current, const std::string& version) {
    if (current.feed.download.present() && current.feed.download.value.version == version) return true;
    const toml::array* items = current.root["item"].as_array();
    if (items == nullptr) return false;
    return std::any_of(items->begin(), items->end(), [&](const toml::node& item) {
        return item.as_table() != nullptr && (*item.as_table())["version"].value_or(std::string_view{}) == version;
    });
}

}  // namespace

std::variant<Order, Failure> prepare_stop(const StopRequest& request) {
    if (request.versions.empty() && !request.revoke_working)
        return refuse("a stop order needs --versions, --revoke-working or both");
    // A version text clients never hold stops nothing: they compare the
    // installed version text for text ("2.1" does not stop "2.1.0").
    for (const std::string& version : request.versions) {
        if (version.empty()) return refuse("an empty version text stops nothing");
        if (const auto problem = version_text_problem(version))
            return refuse("the version \"" + version + "\" " + *problem + "; it would stop nothing clients hold");
    }
    const auto role = client_role(request.key, request.client);
    if (role != KeyUsed::reserve) {
        return refuse(role == KeyUsed::working
                              ? "this is the client's working key: every client ignores a [stop] it signs; sign the "
                                "order with the reserve key"
                              : "this key is not the client's reserve key: no client would verify the order; sign it "
                                "with the reserve key");
    }
    auto read = read_current(request.current, request.client, request.name);
    if (const auto* failure = std::get_if<Failure>(&read)) return *failure;
    Current& current = std::get<Current>(read);

    Order order;
    // A stop order in force stays in force: its versions first, then the new
    // ones, each once; a revocation is never taken back.
    if (current.feed.stop.present()) {
        order.stopped = current.feed.stop.value.versions;
        order.revokes_working = current.feed.stop.value.revoke_working;
        if (current.signer != KeyUsed::reserve) {
            order.notes.push_back("the current feed's [stop] was not signed with this key; its versions are "
                                  "taken into the new stop order");
        }
    } else if (current.feed.stop.malformed()) {
        order.notes.push_back("the current feed's [stop] is malformed and is replaced");
    }
    for (const std::string& version : request.versions) {
        if (std::find(order.stopped.begin(), order.stopped.end(), version) != order.stopped.end()) continue;
        if (!ever_offered(current, version)) {
            order.warnings.push_back(version + " is offered by no item of " + request.name +
                                     ": check that it is the version you mean");
        }
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
    const auto role = client_role(request.key, request.client);
    if (!role) {
        return refuse(
                "this key is neither the client's working key nor its reserve key: no client would verify "
                "the feed");
    }
    auto read = read_current(request.current, request.client, request.name);
    if (const auto* failure = std::get_if<Failure>(&read)) return *failure;
    Current& current = std::get<Current>(read);
    const CarryCheck carry = check_stop_carried(request.current, current.signer, *role);
    if (carry.refusal) return *carry.refusal;
    Order order;
    if (current.feed.download.absent()) {
        order.nothing_to_do = true;  // withdrawn already: a script may run it again
        return order;
    }

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
