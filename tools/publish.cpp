#include "tools/publish.h"

#include <algorithm>
#include <sstream>

#include "common/calendar_date.h"
#include "common/toml.h"
#include "common/toml_reading.h"
#include "feed/feed.h"
#include "feed/https_address.h"
#include "feed/signature.h"
#include "tools/feed_rules.h"
#include "tools/orders.h"
#include "tools/toml_text.h"
#include "update/decision.h"
#include "update/version.h"

namespace tamsel::tool {
namespace {

Failure refuse(std::string reason) { return Failure{std::move(reason)}; }

// The earlier document's items (and its stop order, which stays in force
// whoever signs next), without an update item of the version published now.
std::variant<toml::table, Failure> earlier_sections(std::string_view document, const std::string& version,
                                                    std::size_t& kept, std::uint64_t& next_id) {
    toml::parse_result parsed = toml::parse(document, std::string_view{"earlier news.toml"});
    if (!parsed) {
        const auto& error = parsed.error();
        return refuse("the earlier document is no TOML (line " + std::to_string(error.source().begin.line) +
                      ", column " + std::to_string(error.source().begin.column) + "): " +
                      std::string(error.description()));
    }
    toml::table kept_sections;
    toml::array items;
    if (const toml::array* earlier = parsed.table()["item"].as_array()) {
        for (const toml::node& node : *earlier) {
            const toml::table& item = *node.as_table();
            const auto id = item["id"].value<std::int64_t>();
            if (id && static_cast<std::uint64_t>(*id) >= next_id) next_id = static_cast<std::uint64_t>(*id) + 1;
            if (item["type"].value_or(std::string_view{}) == "update" &&
                item["version"].value_or(std::string_view{}) == version) {
                continue;  // published again: the new item takes its place
            }
            items.push_back(item);
        }
    }
    kept = items.size();
    if (!items.empty()) kept_sections.insert("item", std::move(items));
    for (const char* carried : {"stop", "report"})
        if (const toml::node* node = parsed.table().get(carried)) kept_sections.insert(carried, *node);
    return kept_sections;
}

// What the earlier feed's stop order and offer forbid or question in the
// new offer.
std::optional<Failure> judge_against_earlier(const Feed& earlier, const PublishRequest& request, const Digest& digest,
                                             Publication& publication) {
    const std::string& version = request.version;
    if (earlier.stop.present()) {
        const auto& stopped = earlier.stop.value.versions;
        if (std::find(stopped.begin(), stopped.end(), version) != stopped.end()) {
            return refuse("the version " + version +
                          " is stopped by the [stop] this feed carries: clients that took "
                          "the order in never install it (" +
                          said("refused: the version is stopped") + "), the others would; publish a higher version");
        }
    }
    if (!earlier.download.present()) return std::nullopt;
    const Download& before = earlier.download.value;
    if (before.version == version && before.sha256 != digest) {
        return refuse("the earlier feed offers " + version + " with other bytes (sha256 " +
                      to_hex(before.sha256.data(), before.sha256.size()) +
                      "): machines that installed those keep them, a download under way fails its check; publish "
                      "the new bytes under a new version");
    }
    if (is_newer(before.version, version)) {
        const std::string consequence = "machines that installed " + before.version + " are not offered " + version +
                                        " (" + said("nothing to install: not newer") + "); machines below it get " +
                                        version + " instead";
        if (!request.allow_lower) {
            return refuse(version + " is lower than the earlier feed's offer of " + before.version + ": " +
                          consequence + "; give --allow-lower if that is meant");
        }
        publication.notes.push_back("lower than the earlier offer of " + before.version + ": " + consequence);
    }
    return std::nullopt;
}

}  // namespace

std::variant<Publication, Failure> prepare_publication(const PublishRequest& request) {
    if (request.setup.empty()) return refuse("the setup program is empty");
    if (request.setup.size() > download_size_limit) {
        return refuse("the setup program has " + std::to_string(request.setup.size()) +
                      " bytes; clients take at most " + std::to_string(download_size_limit) + " (they would log " +
                      said("refused: over 16 MB") + ")");
    }
    if (const auto problem = version_text_problem(request.version)) {
        return refuse("the version " + request.version + " " + *problem +
                      " (publish versions as major.minor.build of Tamsel.exe's file version, each 0 to 65535 "
                      "without leading zeros)");
    }
    const std::string prefix_host = request.files_prefix.starts_with("https://")
                                        ? request.files_prefix.substr(8, request.files_prefix.find('/', 8) - 8)
                                        : std::string();
    if (!is_plain_host(prefix_host) || request.files_prefix != files_prefix_for(prefix_host)) {
        return refuse("the files prefix " + request.files_prefix +
                      " is not https://HOST/tamsel/files/, the only place clients take setup programs from");
    }
    if (request.report_prefix && !request.report_prefix->empty()) {
        if (const auto refusal = report_prefix_refusal(*request.report_prefix, prefix_host))
            return refuse("the report prefix " + *request.report_prefix + " is " + *refusal +
                          ": clients would send no reports");
    }
    Publication publication;
    publication.url = request.files_prefix + request.setup_name;
    if (!is_under_files_prefix(publication.url, request.files_prefix) || !split_https_address(publication.url)) {
        return refuse("the address " + publication.url +
                      " breaks the clients' address rule: 1 to 200 bytes after the prefix, parts of ASCII letters, "
                      "digits, \"-\", \".\" and \"_\" joined by single \"/\", no part \".\" or \"..\" "
                      "(they would log " +
                      said("refused: foreign address") + ")");
    }
    bool readable = false;
    for (const NewsText& news : request.news) readable = readable || news.language == "en" || news.language == "ru";
    if (!readable) {
        return refuse(
                "the news needs a text in en or ru: clients skip an update item without one "
                "(they would log " +
                said("refused: no update entry of the version") + ")");
    }
    const auto date = parse_calendar_date(request.date);
    if (!date) return refuse("the date " + request.date + " is no day written YYYY-MM-DD");
    if (request.rollout_days > rollout_days_limit) {
        return refuse("--rollout-days takes 1 to " + std::to_string(rollout_days_limit) + " days");
    }
    const auto rollout_start = parse_calendar_date(request.rollout_start.value_or(request.date));
    if (!rollout_start) return refuse("the rollout start " + *request.rollout_start + " is no day written YYYY-MM-DD");

    if (request.rollout_days != 0) {
        const auto today = parse_calendar_date(request.today);
        if (!today) return refuse("today's date " + request.today + " is no day written YYYY-MM-DD");
        if (days_between(*today, *rollout_start) < 0) {
            return refuse("the rollout start " + calendar_date_text(*rollout_start) + " is before today (" +
                          request.today + "): every wave up to today would be due at once");
        }
    }
    // The setup program says which product version it installs; a release
    // published under another number is never found installed as such.
    if (const auto product = product_version_of(request.setup);
        product && !(*product + ".").starts_with(request.version + ".")) {
        publication.warnings.push_back("the setup program's version resource names product version " + *product +
                                       ", not " + request.version);
    }
    const auto signer = client_role(request.key, request.client);
    if (!signer) {
        return refuse(
                "this key is neither the client's working key nor its reserve key: no client would verify "
                "the feed");
    }
    const auto digest = sha256(request.setup);
    if (!digest) return refuse("SHA-256 failed");
    publication.sha256 = *digest;

    std::uint64_t next_id = 1;
    toml::table root;
    std::optional<Feed> earlier;
    if (request.previous) {
        const auto earlier_signer = verify_carried(*request.previous, request.client, request.previous_name);
        if (const auto* failure = std::get_if<Failure>(&earlier_signer)) return *failure;
        const std::string_view document = std::get<FeedAnswer>(split_feed_answer(*request.previous)).document;
        auto earlier_feed = parse_feed(document);
        if (!std::holds_alternative<Feed>(earlier_feed))
            return refuse(request.previous_name + " is refused by the updater; run tamsel-feed lint on it");
        earlier = std::get<Feed>(std::move(earlier_feed));
        if (const auto refusal = judge_against_earlier(*earlier, request, *digest, publication)) return *refusal;
        const CarryCheck carry = check_stop_carried(*request.previous, std::get<KeyUsed>(earlier_signer), *signer);
        if (carry.refusal) return *carry.refusal;
        if (carry.note) publication.notes.push_back(*carry.note);
        auto sections = earlier_sections(document, request.version, publication.kept_items, next_id);
        if (const auto* failure = std::get_if<Failure>(&sections)) return *failure;
        root = std::move(std::get<toml::table>(sections));
    }
    root.insert("schema", 1);

    toml::table item;
    item.insert("id", static_cast<std::int64_t>(next_id));
    item.insert("type", "update");
    item.insert("date", calendar_date_to_toml(*date));
    item.insert("version", request.version);
    for (const NewsText& news : request.news) {
        item.insert_or_assign(news.language, toml::table{{"title", news.title}, {"text", news.text}});
    }
    if (!root.contains("item")) root.insert("item", toml::array{});
    root["item"].as_array()->push_back(std::move(item));

    toml::table download{{"version", request.version},
                         {"url", publication.url},
                         {"sha256", to_hex(digest->data(), digest->size())},
                         {"size", static_cast<std::int64_t>(request.setup.size())}};
    if (request.rollout_days != 0) {
        download.insert("rollout_start", calendar_date_to_toml(*rollout_start));
        download.insert("rollout_days", static_cast<std::int64_t>(request.rollout_days));
        publication.notes.push_back("rolled out in " + std::to_string(request.rollout_days) + " daily waves from " +
                                    calendar_date_text(*rollout_start) + ": every machine has it due by " +
                                    calendar_date_text(add_days(*rollout_start, request.rollout_days - 1)));
    }
    root.insert("download", std::move(download));
    if (request.report_prefix) {
        root.erase("report");
        if (!request.report_prefix->empty()) root.insert("report", toml::table{{"prefix", *request.report_prefix}});
    }
    publication.document = toml_text(root);

    // The client's own reading of what is about to be published.
    const auto parsed = parse_feed(publication.document);
    if (!std::holds_alternative<Feed>(parsed)) {
        return refuse("the document would be refused: " + std::string(feed_error_message(std::get<FeedError>(parsed))));
    }
    const FeedSection<Report>& report = std::get<Feed>(parsed).report;
    if (const auto problem = report_problem(report, prefix_host)) {
        publication.warnings.push_back("the carried " + *problem + ": clients send no reports");
    } else if (report.present()) {
        publication.notes.push_back(report_setting(report, prefix_host));
    }
    // Decided as the key that signs decides: a reserve-signed feed's [stop]
    // counts in it (the earlier stop list was judged above, whoever signs).
    const auto decision = decide_update(*signer, std::get<Feed>(parsed), State{},
                                        Machine{"0.0.0", request.files_prefix, {}, *rollout_start});
    if (const auto* verdict = std::get_if<Verdict>(&decision)) {
        return refuse("clients would not install it: \"" + std::string(verdict_message(*verdict)) + "\"");
    }

    const auto signature = sign_document(request.key, publication.document);
    if (!signature) return refuse("signing failed");
    publication.answer = feed_answer(*signature, publication.document);
    if (publication.answer.size() > feed_answer_limit) {
        return refuse("the feed answer would have " + std::to_string(publication.answer.size()) +
                      " bytes; clients take at most " + std::to_string(feed_answer_limit) + " (they would log " +
                      said("feed: no answer") + ")");
    }
    return publication;
}

}  // namespace tamsel::tool
