#include "state/state.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <sstream>

#include "common/calendar_date.h"
#include "common/toml_reading.h"
#include "common/utf8.h"

namespace tamsel {
namespace {

// ---------------------------------------------------------------- reading
// toml++'s value<T>() converts between types (25.0 reads as 25, 1 as true),
// which would let a damaged file pass; every field checks its node type.

std::string field_error(std::string error, std::string_view key) {
    error += " for key `";
    error += key;
    error += '`';
    return error;
}

bool read_bool(const toml::node& node, std::string_view key, bool& out, std::string& error) {
    const auto* value = node.as_boolean();
    if (value == nullptr) {
        error = field_error(invalid_type_error(node, "a boolean"), key);
        return false;
    }
    out = value->get();
    return true;
}

bool read_string(const toml::node& node, std::string_view key, std::string& out, std::string& error) {
    const auto* value = node.as_string();
    if (value == nullptr) {
        error = field_error(invalid_type_error(node, "a string"), key);
        return false;
    }
    out = value->get();
    return true;
}

bool read_integer(const toml::node& node, std::string_view key, std::int64_t min, std::int64_t max,
                  std::int64_t& out, std::string& error) {
    const auto* value = node.as_integer();
    if (value == nullptr) {
        error = field_error(invalid_type_error(node, "an integer"), key);
        return false;
    }
    const std::int64_t number = value->get();
    if (number < min || number > max) {
        error = field_error("invalid value: integer " + std::to_string(number) + ", expected " +
                                std::to_string(min) + " to " + std::to_string(max),
                            key);
        return false;
    }
    out = number;
    return true;
}

bool read_string_list(const toml::node& node, std::string_view key, std::vector<std::string>& out,
                      std::string& error) {
    const auto* items = node.as_array();
    if (items == nullptr) {
        error = field_error(invalid_type_error(node, "a sequence of strings"), key);
        return false;
    }
    out.clear();
    for (const toml::node& item : *items) {
        std::string text;
        if (!read_string(item, key, text, error)) return false;
        out.push_back(std::move(text));
    }
    return true;
}

bool read_sessions(const toml::node& node, std::vector<std::uint32_t>& out, std::string& error) {
    const auto* items = node.as_array();
    if (items == nullptr) {
        error = field_error(invalid_type_error(node, "a sequence of session identifiers"), "sessions");
        return false;
    }
    out.clear();
    for (const toml::node& item : *items) {
        std::int64_t session = 0;
        if (!read_integer(item, "sessions", 0, std::numeric_limits<std::uint32_t>::max(), session, error)) return false;
        out.push_back(static_cast<std::uint32_t>(session));
    }
    return true;
}

constexpr std::string_view pending_fields[] = {"version", "from", "sessions", "rollback_copy", "rolling_back", "since"};

// One field of Pending by its position in the field order.
bool read_pending_field(std::size_t index, const toml::node& node, Pending& pending, std::string& error) {
    switch (index) {
    case 0: return read_string(node, "version", pending.version, error);
    case 1: return read_string(node, "from", pending.from, error);
    case 2: return read_sessions(node, pending.sessions, error);
    case 3: return read_bool(node, "rollback_copy", pending.rollback_copy, error);
    case 4: return read_bool(node, "rolling_back", pending.rolling_back, error);
    case 5: {
        std::int64_t since = 0;
        if (!read_integer(node, "since", 0, std::numeric_limits<std::int64_t>::max(), since, error)) return false;
        pending.since = static_cast<std::uint64_t>(since);
        return true;
    }
    default: return true;
    }
}

bool read_pending(const toml::node& node, Pending& pending, std::string& error) {
    if (const auto* table = node.as_table()) {
        for (std::size_t index = 0; index < std::size(pending_fields); ++index) {
            const toml::node* field = table->get(pending_fields[index]);
            if (field == nullptr) {
                if (index < 2) {
                    error = "missing field `" + std::string(pending_fields[index]) + "`";
                    return false;
                }
                continue;
            }
            if (!read_pending_field(index, *field, pending, error)) return false;
        }
        if (const toml::node* prefix = table->get("report_prefix")) {
            if (!read_string(*prefix, "report_prefix", pending.report_prefix.emplace(), error)) return false;
        }
        return true;
    }
    // The record may also be written as an array of its values in field order;
    // values after the sixth are ignored.
    if (const auto* items = node.as_array()) {
        if (items->size() < 2) {
            error = "invalid length " + std::to_string(items->size()) + ", expected struct Pending with 6 elements";
            return false;
        }
        const std::size_t count = std::min(items->size(), std::size(pending_fields));
        for (std::size_t index = 0; index < count; ++index) {
            if (!read_pending_field(index, *items->get(index), pending, error)) return false;
        }
        return true;
    }
    error = field_error(invalid_type_error(node, "struct Pending"), "pending");
    return false;
}

std::variant<State, std::string> state_from_table(const toml::table& table) {
    State state;
    std::string error;
    if (const auto* node = table.get("working_key_revoked")) {
        if (!read_bool(*node, "working_key_revoked", state.working_key_revoked, error)) return error;
    }
    if (const auto* node = table.get("stopped")) {
        if (!read_string_list(*node, "stopped", state.stopped, error)) return error;
    }
    if (const auto* node = table.get("failed")) {
        if (!read_string_list(*node, "failed", state.failed, error)) return error;
    }
    if (const auto* node = table.get("last_try")) {
        auto date = calendar_date_from_toml(*node);
        if (const auto* reason = std::get_if<std::string>(&date)) return field_error(*reason, "last_try");
        state.last_try = std::get<CalendarDate>(date);
    }
    if (const auto* node = table.get("deferred_at")) {
        std::int64_t deferred_at = 0;
        if (!read_integer(*node, "deferred_at", 0, std::numeric_limits<std::int64_t>::max(), deferred_at, error))
            return error;
        state.deferred_at = static_cast<std::uint64_t>(deferred_at);
    }
    if (const auto* node = table.get("pending")) {
        Pending pending;
        if (!read_pending(*node, pending, error)) return error;
        state.pending = std::move(pending);
    }
    return state;
}

// ---------------------------------------------------------------- writing

// A text as a TOML string. toml++ supplies the quoting and escaping; the
// flags keep ordinary texts in double-quoted basic strings, on one line. A
// text that is not UTF-8 cannot be written faithfully (toml++ would turn each
// stray byte into a different character), so it is refused.
std::optional<std::string> quoted(const std::string& text) {
    if (!is_valid_utf8(text)) return std::nullopt;
    const toml::value<std::string> value(text);
    std::ostringstream out;
    out << toml::toml_formatter(value, toml::format_flags::allow_unicode_strings);
    return out.str();
}

std::optional<std::string> string_array(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const auto text = quoted(texts[i]);
        if (!text) return std::nullopt;
        if (i != 0) out += ", ";
        out += *text;
    }
    out += ']';
    return out;
}

std::string integer_array(const std::vector<std::uint32_t>& numbers) {
    std::string out = "[";
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i != 0) out += ", ";
        out += std::to_string(numbers[i]);
    }
    out += ']';
    return out;
}

// Through the TOML date, whose narrower fields the state file has always
// been written in.
std::string date_text(const CalendarDate& date) {
    const toml::date value = calendar_date_to_toml(date);
    return calendar_date_text({value.year, value.month, value.day});
}

void add_line(std::string& out, std::string_view key, std::string_view value) {
    out += key;
    out += " = ";
    out += value;
    out += "\r\n";
}

// The state path with its extension replaced by "toml.tmp".
std::string temporary_path(const std::string& path) {
    const auto separator = path.find_last_of("\\/");
    const std::size_t name_start = separator == std::string::npos ? 0 : separator + 1;
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || dot <= name_start) return path + ".toml.tmp";
    return path.substr(0, dot) + ".toml.tmp";
}

}  // namespace

Result<State, StateUnreadable> read_state(Files& files, const std::string& path) {
    auto file = files.open_read(path);
    if (!file) return StateUnreadable{"the state file could not be opened", file.cause()};
    if (!*file) return State{};  // no file, no folder
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const auto count = (*file)->read(buffer, sizeof buffer);
        if (!count) return StateUnreadable{"the state file could not be read", count.cause()};
        if (*count == 0) break;
        bytes.append(buffer, std::min(*count, sizeof buffer));
    }
    file->reset();

    if (!is_valid_utf8(bytes)) return StateUnreadable{"stream did not contain valid UTF-8"};
    auto parsed = toml::parse(bytes, std::string_view{path});
    if (!parsed) {
        const auto& failure = parsed.error();
        return StateUnreadable{"TOML parse error at line " + std::to_string(failure.source().begin.line) + ", column " +
                               std::to_string(failure.source().begin.column) + ": " +
                               std::string(failure.description())};
    }
    auto mapped = state_from_table(parsed.table());
    if (auto* reason = std::get_if<std::string>(&mapped)) return StateUnreadable{std::move(*reason)};
    return std::move(std::get<State>(mapped));
}

std::optional<std::string> state_text(const State& state) {
    std::string out;
    add_line(out, "working_key_revoked", state.working_key_revoked ? "true" : "false");
    if (!state.stopped.empty()) {
        const auto list = string_array(state.stopped);
        if (!list) return std::nullopt;
        add_line(out, "stopped", *list);
    }
    if (!state.failed.empty()) {
        const auto list = string_array(state.failed);
        if (!list) return std::nullopt;
        add_line(out, "failed", *list);
    }
    if (state.last_try) add_line(out, "last_try", date_text(*state.last_try));
    if (state.deferred_at) {
        if (*state.deferred_at > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        add_line(out, "deferred_at", std::to_string(*state.deferred_at));
    }
    if (state.pending) {
        const Pending& pending = *state.pending;
        // A TOML integer is signed 64-bit; a larger `since` has no TOML form.
        if (pending.since > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        const auto version = quoted(pending.version);
        const auto from = quoted(pending.from);
        const auto prefix = pending.report_prefix ? quoted(*pending.report_prefix) : std::optional<std::string>("");
        if (!version || !from || !prefix) return std::nullopt;
        out += "\r\n[pending]\r\n";
        add_line(out, "version", *version);
        add_line(out, "from", *from);
        add_line(out, "sessions", integer_array(pending.sessions));
        add_line(out, "rollback_copy", pending.rollback_copy ? "true" : "false");
        add_line(out, "rolling_back", pending.rolling_back ? "true" : "false");
        add_line(out, "since", std::to_string(pending.since));
        if (pending.report_prefix) add_line(out, "report_prefix", *prefix);
    }
    return out;
}

Result<void> write_state(Files& files, const State& state, const std::string& path) {
    const auto text = state_text(state);
    if (!text) return Failure{};
    const std::string temporary = temporary_path(path);
    {
        const auto file = files.create_truncate(temporary);
        if (!file) return file.error();
        if (auto written = write_all(**file, text->data(), text->size()); !written) return written;
        // The move below is written through to the disk, but without this the
        // moved file's contents may not be: after a power loss state.toml
        // could be empty or torn, and every later run would stop at
        // "state unreadable" until someone repaired it.
        if (auto flushed = (*file)->flush(); !flushed) return flushed;
    }
    return files.replace_file(temporary, path);
}

void add_failed(State& state, std::string_view version) {
    if (std::find(state.failed.begin(), state.failed.end(), version) != state.failed.end()) return;
    state.failed.emplace_back(version);
}

}  // namespace tamsel
