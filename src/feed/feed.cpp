#include "feed/feed.h"

#include <limits>

#include "common/calendar_date.h"
#include "common/toml.h"
#include "common/toml_reading.h"
#include "feed/https_address.h"

namespace tamsel {
namespace {

// One language section of an item.
struct RawText {
    std::string title;
    std::string text;
};

// One table of the `item` array. Only `id`, `type`, `version` and whether an
// `en` or `ru` section exists are used further; the rest is read for its shape.
struct RawItem {
    std::uint64_t id = 0;
    std::string type;
    std::optional<CalendarDate> date;
    std::optional<std::string> version;
    std::optional<std::string> link;
    std::vector<std::pair<std::string, RawText>> texts;  // by language code, in document order

    bool has_text_in(std::string_view language) const {
        for (const auto& [code, text] : texts) {
            if (code == language) return true;
        }
        return false;
    }
};

// The top-level table. `download` and `stop` stay raw values of the tree
// (nullptr when absent), validated on their own after the shape is read.
struct RawFeed {
    std::uint32_t schema = 0;
    std::vector<RawItem> items;
    const toml::node* download = nullptr;
    const toml::node* stop = nullptr;
    const toml::node* report = nullptr;
};

// A table with string `title` and `text` (other keys ignored), or an array of
// exactly two strings, title first.
std::optional<RawText> read_raw_text(const toml::node& node) {
    if (const auto* table = node.as_table()) {
        const toml::node* title = table->get("title");
        const toml::node* text = table->get("text");
        if (title == nullptr || text == nullptr) return std::nullopt;
        const std::string* title_text = string_of(*title);
        const std::string* text_text = string_of(*text);
        if (title_text == nullptr || text_text == nullptr) return std::nullopt;
        return RawText{*title_text, *text_text};
    }
    if (const auto* array = node.as_array()) {
        if (array->size() != 2) return std::nullopt;
        const std::string* title_text = string_of((*array)[0]);
        const std::string* text_text = string_of((*array)[1]);
        if (title_text == nullptr || text_text == nullptr) return std::nullopt;
        return RawText{*title_text, *text_text};
    }
    return std::nullopt;
}

// Reads one table of the `item` array; nothing when its shape is wrong.
std::optional<RawItem> read_raw_item(const toml::table& table) {
    RawItem item;
    bool has_id = false;
    bool has_type = false;
    for (const auto& [key, node] : table) {
        const std::string_view name = key.str();
        if (name == "id") {
            const auto id = unsigned_of(node);
            if (!id) return std::nullopt;
            item.id = *id;
            has_id = true;
        } else if (name == "type") {
            const std::string* type = string_of(node);
            if (type == nullptr) return std::nullopt;
            item.type = *type;
            has_type = true;
        } else if (name == "date") {
            const auto date = calendar_date_from_toml(node);
            if (!std::holds_alternative<CalendarDate>(date)) return std::nullopt;
            item.date = std::get<CalendarDate>(date);
        } else if (name == "version") {
            const std::string* version = string_of(node);
            if (version == nullptr) return std::nullopt;
            item.version = *version;
        } else if (name == "link") {
            const std::string* link = string_of(node);
            if (link == nullptr) return std::nullopt;
            item.link = *link;
        } else {
            auto text = read_raw_text(node);
            if (!text) return std::nullopt;
            item.texts.emplace_back(std::string(name), std::move(*text));
        }
    }
    if (!has_id || !has_type) return std::nullopt;
    return item;
}

// The document's shape; nothing for a document error.
std::optional<RawFeed> read_raw_feed(const toml::table& root) {
    RawFeed feed;
    const toml::node* schema_node = root.get("schema");
    if (schema_node == nullptr) return std::nullopt;
    const std::optional<std::uint64_t> schema = unsigned_of(*schema_node);
    if (!schema || *schema > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    feed.schema = static_cast<std::uint32_t>(*schema);

    if (const toml::node* item_node = root.get("item")) {
        const toml::array* array = item_node->as_array();
        if (array == nullptr) return std::nullopt;
        feed.items.reserve(array->size());
        for (const toml::node& element : *array) {
            const toml::table* table = element.as_table();
            if (table == nullptr) return std::nullopt;
            std::optional<RawItem> item = read_raw_item(*table);
            if (!item) return std::nullopt;
            feed.items.push_back(std::move(*item));
        }
    }
    feed.download = root.get("download");
    feed.stop = root.get("stop");
    feed.report = root.get("report");
    return feed;
}

// Among the items that count, the "update" item with the greatest id; the
// earlier of two equal ids stays.
std::optional<UpdateEntry> choose_update_entry(const std::vector<RawItem>& items) {
    std::optional<UpdateEntry> chosen;
    for (const RawItem& item : items) {
        if (item.type != "news" && item.type != "update") continue;
        if (item.type == "update" && !item.version) continue;
        if (!item.has_text_in("en") && !item.has_text_in("ru")) continue;
        if (item.type != "update") continue;  // counting news items are not used further
        if (!chosen || item.id > chosen->id) chosen = UpdateEntry{item.id, *item.version};
    }
    return chosen;
}

std::optional<std::uint8_t> hex_digit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
}

std::optional<Rollout> read_rollout(const toml::table& download) {
    const toml::node* start = download.get("rollout_start");
    const toml::node* days = download.get("rollout_days");
    if (start == nullptr || days == nullptr) return std::nullopt;
    // A local date only: a string or a date-time is not taken for one.
    const auto* date = start->as_date();
    const auto* count = days->as_integer();
    if (date == nullptr || count == nullptr) return std::nullopt;
    if (count->get() < 1 || count->get() > static_cast<std::int64_t>(rollout_days_limit)) return std::nullopt;
    const auto parsed = calendar_date_from_toml(*start);
    if (!std::holds_alternative<CalendarDate>(parsed)) return std::nullopt;
    return Rollout{std::get<CalendarDate>(parsed), static_cast<std::uint32_t>(count->get())};
}

FeedSection<Download> read_download(const toml::node* node) {
    FeedSection<Download> section;
    if (node == nullptr) return section;
    section.state = SectionState::malformed;
    const toml::table* table = node->as_table();
    if (table == nullptr) return section;

    const toml::node* version = table->get("version");
    const toml::node* url = table->get("url");
    const toml::node* sha256 = table->get("sha256");
    const toml::node* size = table->get("size");
    if (version == nullptr || url == nullptr || sha256 == nullptr || size == nullptr) return section;
    const std::string* version_text = string_of(*version);
    const std::string* url_text = string_of(*url);
    const std::string* sha256_text = string_of(*sha256);
    const std::optional<std::uint64_t> size_value = unsigned_of(*size);
    if (version_text == nullptr || url_text == nullptr || sha256_text == nullptr || !size_value) return section;

    Download& download = section.value;
    if (sha256_text->size() != 2 * download.sha256.size() || *size_value == 0 || version_text->empty() ||
        url_text->empty()) {
        return section;
    }
    for (std::size_t i = 0; i < download.sha256.size(); ++i) {
        const auto high = hex_digit((*sha256_text)[2 * i]);
        const auto low = hex_digit((*sha256_text)[2 * i + 1]);
        if (!high || !low) return section;
        download.sha256[i] = static_cast<std::uint8_t>(*high << 4 | *low);
    }
    download.version = *version_text;
    download.url = *url_text;
    download.size = *size_value;
    download.rollout = read_rollout(*table);
    section.state = SectionState::present;
    return section;
}

FeedSection<Stop> read_stop(const toml::node* node) {
    FeedSection<Stop> section;
    if (node == nullptr) return section;
    section.state = SectionState::malformed;
    const toml::table* table = node->as_table();
    if (table == nullptr) return section;

    Stop& stop = section.value;
    if (const toml::node* versions = table->get("versions")) {
        const toml::array* array = versions->as_array();
        if (array == nullptr) return section;
        for (const toml::node& element : *array) {
            const std::string* text = string_of(element);
            if (text == nullptr) return section;
            stop.versions.push_back(*text);
        }
    }
    if (const toml::node* revoke = table->get("revoke_working")) {
        const auto* flag = revoke->as_boolean();
        if (flag == nullptr) return section;
        stop.revoke_working = flag->get();
    }
    section.state = SectionState::present;
    return section;
}

FeedSection<Report> read_report(const toml::node* node) {
    FeedSection<Report> section;
    if (node == nullptr) return section;
    section.state = SectionState::malformed;
    const toml::table* table = node->as_table();
    const toml::node* prefix = table == nullptr ? nullptr : table->get("prefix");
    const std::string* text = prefix == nullptr ? nullptr : string_of(*prefix);
    if (text == nullptr) return section;
    section.value.prefix = *text;
    section.state = SectionState::present;
    return section;
}

}  // namespace

std::optional<std::string> report_prefix_refusal(std::string_view prefix, std::string_view update_host) {
    const auto address = split_https_address(prefix);
    if (!address) return "not an https:// address with a plain host";
    if (address->host != update_host) return "not on the update host " + std::string(update_host);
    if (!prefix.ends_with('/')) return "not ending in \"/\"";
    if (address->path.size() > report_path_limit) return "a path over 200 bytes";
    for (std::string_view path = std::string_view(address->path).substr(1); !path.empty();) {
        const std::size_t slash = path.find('/');
        if (slash == std::string_view::npos || !is_plain_path_part(path.substr(0, slash)))
            return "a path part other than letters, digits, \"-\", \".\" and \"_\"";
        path.remove_prefix(slash + 1);
    }
    return std::nullopt;
}

std::optional<std::string> report_prefix(const Feed& feed, std::string_view update_host) {
    if (!feed.report.present() || report_prefix_refusal(feed.report.value.prefix, update_host)) return std::nullopt;
    return feed.report.value.prefix;
}

std::variant<Feed, FeedError> parse_feed(std::string_view document) {
    toml::parse_result parsed = toml::parse(document, std::string_view{"news.toml"});
    if (!parsed) return FeedError::document;

    // The whole shape is read before the schema is judged, so a newer schema
    // with a broken item is still a document error.
    const std::optional<RawFeed> raw = read_raw_feed(parsed.table());
    if (!raw) return FeedError::document;
    if (raw->schema != 1) return FeedError::schema;

    Feed feed;
    feed.update_entry = choose_update_entry(raw->items);
    feed.download = read_download(raw->download);
    feed.stop = read_stop(raw->stop);
    feed.report = read_report(raw->report);
    return feed;
}

}  // namespace tamsel
