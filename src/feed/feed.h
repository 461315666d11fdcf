// The feed document: the TOML text behind the signature line, read into the
// record the check run decides with.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/calendar_date.h"
#include "feed/feed_error.h"

namespace tamsel {

// The chosen update entry: the counting "update" item with the greatest id.
struct UpdateEntry {
    std::uint64_t id = 0;
    std::string version;
};

// A staged rollout of the offer: machine by machine, in `days` waves from
// `start` on.
struct Rollout {
    CalendarDate start;
    std::uint32_t days = 1;  // 1 to 30
};

inline constexpr std::uint32_t rollout_days_limit = 30;

// The setup program on offer.
struct Download {
    std::string version;
    std::string url;
    std::array<std::uint8_t, 32> sha256{};
    std::uint64_t size = 0;
    // Only when both keys are there and of the right type and range: a typo
    // must never strand a client, so anything else installs at once.
    std::optional<Rollout> rollout;
};

// The stop order.
struct Stop {
    std::vector<std::string> versions;  // in document order
    bool revoke_working = false;
};

// A section of the document that is read after the document's shape has
// been accepted: a broken one does not refuse the document, so the check run
// can name it in its own verdict.
enum class SectionState { absent, malformed, present };

template <typename T>
struct FeedSection {
    SectionState state = SectionState::absent;
    T value{};  // meaningful only when present

    bool absent() const { return state == SectionState::absent; }
    bool malformed() const { return state == SectionState::malformed; }
    bool present() const { return state == SectionState::present; }
};

// The feed's request for outcome reports: clients send each installation's
// outcome as a GET of `prefix` + "<outcome>/<from>/<to>".
struct Report {
    std::string prefix;
};

struct Feed {
    std::optional<UpdateEntry> update_entry;
    FeedSection<Download> download;
    FeedSection<Stop> stop;
    FeedSection<Report> report;  // malformed: not a table with a text `prefix`
};

inline constexpr std::size_t report_path_limit = 200;

// Why clients of `update_host` send no reports to `prefix`, or nothing when
// they do: it must be an https address on that host, byte for byte, whose
// path is at most 200 bytes of plain parts, each ending in "/".
std::optional<std::string> report_prefix_refusal(std::string_view prefix, std::string_view update_host);

// The prefix the clients of `update_host` report to: that of a present
// [report] which report_prefix_refusal accepts.
std::optional<std::string> report_prefix(const Feed& feed, std::string_view update_host);

// Parses the document exactly as it follows the signature line. Fails with
// FeedError::document for a syntax or shape error, or FeedError::schema for
// a well-formed document whose schema is not 1.
std::variant<Feed, FeedError> parse_feed(std::string_view document);

}  // namespace tamsel
