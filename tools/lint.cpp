#include "tools/lint.h"

#include <algorithm>
#include <functional>
#include <iomanip>
#include <sstream>

#include "common/toml.h"
#include "common/utf8.h"
#include "feed/feed.h"
#include "feed/signature.h"
#include "tools/feed_rules.h"
#include "update/decision.h"
#include "update/version.h"

namespace tamsel::tool {
namespace {

// The findings of one file, with document positions moved past the
// signature line when the file is an answer.
class Findings {
public:
    explicit Findings(std::uint32_t line_offset) : line_offset_(line_offset) {}
    void add(Severity severity, std::string message) { list_.push_back({severity, 0, 0, std::move(message)}); }
    void at(Severity severity, const toml::source_region& where, std::string message, bool advisory = false) {
        if (where.begin.line == 0) {
            list_.push_back({severity, 0, 0, std::move(message), advisory});
            return;
        }
        list_.push_back({severity, where.begin.line + line_offset_, where.begin.column, std::move(message), advisory});
    }
    std::vector<Finding> take() { return std::move(list_); }

private:
    std::uint32_t line_offset_;
    std::vector<Finding> list_;
};

std::string toml_text(const toml::table& root) {
    std::ostringstream out;
    out << toml::toml_formatter(root, toml::format_flags::allow_unicode_strings);
    return out.str();
}

// Whether the updater's feed code accepts a document made of these sections.
bool accepted(const toml::table& root) { return std::holds_alternative<Feed>(parse_feed(toml_text(root))); }

// The feed record of a document made of these sections, if accepted.
std::optional<Feed> feed_of(const toml::table& root) {
    auto parsed = parse_feed(toml_text(root));
    if (!std::holds_alternative<Feed>(parsed)) return std::nullopt;
    return std::get<Feed>(std::move(parsed));
}

// A value of each key that the updater's feed code takes, and what it takes
// there. A key whose value, swapped for the good one, turns a refusal into
// an acceptance is the culprit: the updater's code judges, this table only
// explains. An empty key stands for every other key (an item's language
// sections).
struct GoodValue {
    std::string_view key;
    std::function<void(toml::table&, std::string_view)> put;
    std::string_view rule;
};

void put_string(toml::table& table, std::string_view key, std::string_view text) {
    table.insert_or_assign(key, std::string(text));
}

const std::vector<GoodValue>& item_values() {
    static const std::vector<GoodValue> values = {
        {"id", [](toml::table& t, std::string_view k) { t.insert_or_assign(k, 1); }, "an integer of 0 or more"},
        {"type", [](toml::table& t, std::string_view k) { put_string(t, k, "news"); }, "a string"},
        {"date", [](toml::table& t, std::string_view k) { t.insert_or_assign(k, toml::date{2026, 1, 1}); },
         "a date such as 2026-09-02 (bare or quoted) of a day that exists"},
        {"version", [](toml::table& t, std::string_view k) { put_string(t, k, "1.0.0"); }, "a string"},
        {"link", [](toml::table& t, std::string_view k) { put_string(t, k, "x"); }, "a string"},
        {"", [](toml::table& t, std::string_view k) { t.insert_or_assign(k, toml::table{{"title", "t"}, {"text", "t"}}); },
         "a language section: a table with the strings title and text, or an array of two strings"},
    };
    return values;
}

const std::vector<GoodValue>& download_values() {
    static const std::vector<GoodValue> values = {
        {"version", [](toml::table& t, std::string_view k) { put_string(t, k, "1.0.0"); }, "a string, not empty"},
        {"url", [](toml::table& t, std::string_view k) { put_string(t, k, "https://h/tamsel/files/s.exe"); },
         "a string, not empty"},
        {"sha256", [](toml::table& t, std::string_view k) { put_string(t, k, std::string(64, '0')); },
         "a string of exactly 64 hexadecimal digits"},
        {"size", [](toml::table& t, std::string_view k) { t.insert_or_assign(k, 1); }, "an integer greater than 0"},
    };
    return values;
}

const std::vector<GoodValue>& stop_values() {
    static const std::vector<GoodValue> values = {
        {"versions", [](toml::table& t, std::string_view k) { t.insert_or_assign(k, toml::array{}); },
         "an array of strings"},
        {"revoke_working", [](toml::table& t, std::string_view k) { t.insert_or_assign(k, false); }, "a boolean"},
    };
    return values;
}

const GoodValue* good_value_of(const std::vector<GoodValue>& values, std::string_view key) {
    for (const GoodValue& value : values) {
        if (value.key == key || value.key.empty()) return &value;
    }
    return nullptr;
}

// Each key of `table` whose own value makes `judge` refuse a section that
// is good in every other key, reported with its place and rule; keys the
// section needs but lacks are named too.
void blame_keys(const toml::table& table, const std::vector<GoodValue>& values, std::string_view section,
                const std::vector<std::string_view>& required, const std::function<bool(const toml::table&)>& judge,
                Findings& findings) {
    toml::table good;
    bool blamed = false;
    for (const std::string_view key : required) {
        good_value_of(values, key)->put(good, key);
        if (!table.contains(key)) {
            findings.at(Severity::error, table.source(), std::string(section) + " has no " + std::string(key));
            blamed = true;
        }
    }
    for (const auto& [key, node] : table) {
        const GoodValue* rule = good_value_of(values, key.str());
        if (rule == nullptr) continue;  // a key the updater does not read
        toml::table candidate = good;
        candidate.insert_or_assign(key.str(), node);
        if (!judge(candidate)) {
            findings.at(Severity::error, node.source(),
                        std::string(section) + " " + std::string(key.str()) + " must be " + std::string(rule->rule));
            blamed = true;
        }
    }
    if (!blamed) findings.at(Severity::error, table.source(), std::string(section) + " is refused");
}

// The document error that parse_feed reports, narrowed to its place by
// asking the same code about each piece on its own.
void explain_document_error(const toml::table& root, Findings& findings) {
    const toml::node* schema = root.get("schema");
    if (schema == nullptr)
        return findings.add(Severity::error, client_says("feed document refused", "there is no schema"));
    const auto alone = parse_feed(toml_text(toml::table{{"schema", *schema}}));
    if (std::holds_alternative<FeedError>(alone) && std::get<FeedError>(alone) == FeedError::document) {
        return findings.at(
                Severity::error, schema->source(),
                client_says("feed document refused", "schema must be an integer 0 to 4294967295 (and 1 to be read)"));
    }
    const toml::node* items = root.get("item");
    if (items == nullptr) return findings.add(Severity::error, client_says("feed document refused"));
    const toml::array* array = items->as_array();
    if (array == nullptr) {
        return findings.at(Severity::error, items->source(),
                           client_says("feed document refused", "item must be an array of tables, written [[item]]"));
    }
    for (const toml::node& element : *array) {
        const toml::table* item = element.as_table();
        if (item == nullptr) {
            findings.at(Severity::error, element.source(),
                        client_says("feed document refused", "an item must be a table"));
            continue;
        }
        const auto judge = [](const toml::table& candidate) {
            return accepted(toml::table{{"schema", 1}, {"item", toml::array{candidate}}});
        };
        if (judge(*item)) continue;
        blame_keys(*item, item_values(), client_says("feed document refused", "item"), {"id", "type"}, judge, findings);
    }
}

// Update items that the document carries but the updater drops silently.
void warn_dropped_updates(const toml::table& root, Findings& findings) {
    const toml::array* items = root["item"].as_array();
    if (items == nullptr) return;
    for (const toml::node& element : *items) {
        const toml::table* item = element.as_table();
        if (item == nullptr || (*item)["type"].value_or(std::string_view{}) != "update") continue;
        const auto alone = feed_of(toml::table{{"schema", 1}, {"item", toml::array{*item}}});
        if (alone && !alone->update_entry) {
            findings.at(Severity::warning, item->source(),
                        "this update item does not count: it needs a version and an en or ru section");
        }
    }
}

// Stop entries that no client holds: they compare the installed version
// text for text, so "2.1" stops no machine on 2.1.0.
void check_stop_entries(const Feed& feed, const toml::node* stop_node, Findings& findings) {
    if (!feed.stop.present()) return;
    for (const std::string& version : feed.stop.value.versions) {
        if (const auto problem = version_text_problem(version)) {
            findings.at(Severity::error, stop_node->source(),
                        "[stop] versions: \"" + version + "\" " + *problem + "; it stops nothing clients hold");
        }
    }
}

void judge_feed(const Feed& feed, const toml::table& root, std::optional<KeyUsed> signer, bool is_answer,
                const LintOptions& options, Findings& findings) {
    const toml::node* download_node = root.get("download");
    const toml::node* stop_node = root.get("stop");
    // The client's own rules; a bare document counts as one the reserve key
    // may sign, so its [stop] is judged as such.
    const auto earns = [&](Verdict verdict) {
        return feed_earns(verdict, feed, signer.value_or(KeyUsed::reserve), files_prefix_for(options.host));
    };
    const auto refusal = [](Verdict verdict) { return std::string(verdict_message(verdict)); };
    if (feed.download.malformed()) {
        if (const toml::table* table = download_node->as_table()) {
            blame_keys(
                    *table, download_values(), refusal(Verdict::download_malformed) + ":",
                    {"version", "url", "sha256", "size"},
                    [](const toml::table& candidate) {
                        const auto feed = feed_of(toml::table{{"schema", 1}, {"download", candidate}});
                        return feed && feed->download.present();
                    },
                    findings);
        } else {
            findings.at(Severity::error, download_node->source(),
                        refusal(Verdict::download_malformed) + ": download must be a table, written [download]");
        }
    }
    if (feed.download.present()) {
        const Download& offer = feed.download.value;
        const toml::source_region& where = download_node->source();
        if (earns(Verdict::no_update_entry)) {
            findings.at(Severity::warning, where,
                        "[download] offers " + offer.version +
                                " but no update item of that version counts: clients log \"" +
                                refusal(Verdict::no_update_entry) + "\"");
        }
        if (const auto problem = version_text_problem(offer.version)) {
            findings.at(Severity::warning, where, "the version " + offer.version + " " + *problem);
        }
        const toml::table& table = *download_node->as_table();
        if (earns(Verdict::foreign_address)) {
            findings.at(Severity::error, table.get("url")->source(),
                        refusal(Verdict::foreign_address) + ": url is not a plain path under " +
                                files_prefix_for(options.host));
        }
        if (earns(Verdict::over_size_limit)) {
            findings.at(Severity::error, table.get("size")->source(),
                        refusal(Verdict::over_size_limit) + ": clients take setup programs of at most " +
                                std::to_string(download_size_limit) + " bytes");
        }
        const toml::node* start = table.get("rollout_start");
        const toml::node* days = table.get("rollout_days");
        if ((start != nullptr || days != nullptr) && !offer.rollout) {
            // Clients never wait on a rollout they cannot read: they install at once.
            const std::string problem = start == nullptr  ? "rollout_days needs rollout_start"
                                        : days == nullptr ? "rollout_start needs rollout_days"
                                        : start->as_date() == nullptr
                                                ? "rollout_start must be a local date written 2027-01-04"
                                                : "rollout_days must be an integer from 1 to 30";
            findings.at(Severity::error, (start != nullptr ? start : days)->source(),
                        "[download] rollout ignored: " + problem + "; clients install the offer at once");
        }
    }
    if (!feed.stop.absent()) {
        const toml::source_region& where = stop_node->source();
        if (earns(Verdict::stop_malformed)) {
            if (const toml::table* table = stop_node->as_table()) {
                blame_keys(
                        *table, stop_values(), refusal(Verdict::stop_malformed) + ":", {},
                        [](const toml::table& candidate) {
                            const auto feed = feed_of(toml::table{{"schema", 1}, {"stop", candidate}});
                            return feed && feed->stop.present();
                        },
                        findings);
            } else {
                findings.at(Severity::error, where,
                            refusal(Verdict::stop_malformed) + ": stop must be a table, written [stop]");
            }
        }
        if (signer == KeyUsed::working && feed.stop.present() && feed.stop.value.revoke_working) {
            findings.at(Severity::error, where,
                        "[stop] revokes the working key, which signed this answer: clients that took the "
                        "revocation in refuse the whole feed (" +
                                said("refused: the working key is revoked") + "); sign it with the reserve key");
        } else if (signer == KeyUsed::working) {
            // Carried on from an earlier reserve-signed feed by publish or
            // withdraw: harmless to clients, so it does not fail a release.
            findings.at(Severity::warning, where,
                        "[stop] is ignored: this answer is signed with the working key; only the reserve key's "
                        "stop order counts",
                        true);
        } else if (signer == KeyUsed::reserve && feed.download.present()) {
            if (earns(Verdict::version_stopped)) {
                findings.at(Severity::warning, download_node->source(),
                            "[download] offers " + feed.download.value.version +
                                    ", which [stop] stops: clients log \"" + refusal(Verdict::version_stopped) + "\"");
            }
        } else if (!is_answer) {
            findings.at(Severity::warning, where,
                        "[stop] counts only in a feed signed with the reserve key: sign this document with it");
        }
    }
    check_stop_entries(feed, stop_node, findings);
    if (const auto problem = report_problem(feed.report, options.host))
        findings.at(Severity::warning, root.get("report")->source(), *problem + ": clients send no reports");
    warn_dropped_updates(root, findings);
}

}  // namespace

std::vector<Finding> lint(std::string_view file, const LintOptions& options) {
    Findings findings(0);
    if (file.size() > feed_answer_limit) {
        findings.add(Severity::error, "the file has " + std::to_string(file.size()) + " bytes; clients take at most " +
                                              std::to_string(feed_answer_limit) + " (they log " +
                                              said("feed: no answer") + ")");
    }
    if (!is_valid_utf8(file)) {
        findings.add(Severity::error, "the file is not UTF-8 (clients log " + said("feed: no answer") + ")");
        return findings.take();
    }

    std::string_view document = file;
    std::optional<KeyUsed> signer;
    const bool is_answer = looks_signed(file);
    if (is_answer) {
        const auto split = split_feed_answer(file);
        if (const auto* error = std::get_if<FeedError>(&split)) {
            findings.at(Severity::error, toml::source_region{{1, 1}, {1, 1}, {}},
                        std::string(feed_error_message(*error)));
            return findings.take();
        }
        const FeedAnswer& answer = std::get<FeedAnswer>(split);
        document = answer.document;
        if (verify_document(options.working_key, document, answer.signature)) {
            signer = KeyUsed::working;
        } else if (verify_document(options.reserve_key, document, answer.signature)) {
            signer = KeyUsed::reserve;
        } else {
            findings.at(Severity::error, toml::source_region{{1, 1}, {1, 1}, {}},
                        client_says("feed signature did not verify") + " with the working or the reserve key given");
        }
    }
    Findings document_findings(is_answer ? 1 : 0);
    toml::parse_result parsed = toml::parse(document, std::string_view{"news.toml"});
    if (!parsed) {
        document_findings.at(Severity::error, parsed.error().source(),
                             client_says("feed document refused", parsed.error().description()));
    } else {
        const auto feed = parse_feed(document);
        if (const auto* error = std::get_if<FeedError>(&feed)) {
            if (*error == FeedError::schema) {
                document_findings.at(Severity::error, parsed.table().get("schema")->source(),
                                     client_says("feed from a newer schema", "clients read schema 1 only"));
            } else {
                explain_document_error(parsed.table(), document_findings);
            }
        } else {
            judge_feed(std::get<Feed>(feed), parsed.table(), signer, is_answer, options, document_findings);
        }
    }
    std::vector<Finding> all = findings.take();
    for (Finding& finding : document_findings.take()) all.push_back(std::move(finding));
    // In the file's order (toml++ hands keys out sorted); unplaced ones first.
    std::stable_sort(all.begin(), all.end(), [](const Finding& a, const Finding& b) {
        return std::pair(a.line, a.column) < std::pair(b.line, b.column);
    });
    return all;
}

namespace {

// The feed record of a document or answer the updater's code accepts.
std::optional<Feed> feed_of_file(std::string_view file) {
    std::string_view document = file;
    if (looks_signed(file)) {
        const auto split = split_feed_answer(file);
        if (!std::holds_alternative<FeedAnswer>(split)) return std::nullopt;
        document = std::get<FeedAnswer>(split).document;
    }
    auto parsed = parse_feed(document);
    if (!std::holds_alternative<Feed>(parsed)) return std::nullopt;
    return std::get<Feed>(std::move(parsed));
}

}  // namespace

std::optional<std::string> report_prefix_of(std::string_view file, std::string_view host) {
    const auto feed = feed_of_file(file);
    return feed ? report_prefix(*feed, host) : std::nullopt;
}

std::optional<RolloutProgress> rollout_progress(std::string_view file, const CalendarDate& today) {
    const auto feed = feed_of_file(file);
    if (!feed) return std::nullopt;
    const FeedSection<Download>& download = feed->download;
    if (!download.present() || !download.value.rollout) return std::nullopt;
    const Rollout& rollout = *download.value.rollout;
    const std::int64_t waves = rollout.days;
    // Waves are even shares of the machines: wave w is due from start + w.
    return RolloutProgress{download.value.version, rollout.start, waves,
                           std::clamp<std::int64_t>(days_between(rollout.start, today) + 1, 0, waves),
                           add_days(rollout.start, waves - 1)};
}

std::optional<std::string> rollout_status(std::string_view file, const CalendarDate& today) {
    const auto progress = rollout_progress(file, today);
    if (!progress) return std::nullopt;
    const std::int64_t waves = progress->waves;
    const std::int64_t due = progress->due;
    std::ostringstream text;
    text << "rollout of " << progress->version << ": " << waves << " waves from " << calendar_date_text(progress->start)
         << "; on " << calendar_date_text(today) << " " << due << " of " << waves << " due (" << std::fixed
         << std::setprecision(1) << 100.0 * static_cast<double>(due) / static_cast<double>(waves) << "% of machines), "
         << waves - due << (waves - due == 1 ? " wave remains" : " waves remain") << ", the last due on "
         << calendar_date_text(progress->last);
    return text.str();
}

int lint_exit_code(const std::vector<Finding>& findings) {
    int code = 0;
    for (const Finding& finding : findings) {
        if (!finding.advisory)
            code = std::max<int>(code, finding.severity == Severity::error ? exit_refused : exit_findings);
    }
    return code;
}

}  // namespace tamsel::tool
