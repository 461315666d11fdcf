#include "tools/reports.h"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <tuple>

#include "update/version.h"

namespace tamsel::tool {

std::uint64_t OutcomeCounts::reports() const {
    return std::accumulate(by_outcome.begin(), by_outcome.end(), std::uint64_t{0});
}

double OutcomeCounts::failure_percent() const {
    return reports() == 0 ? 0.0 : 100.0 * static_cast<double>(failures()) / static_cast<double>(reports());
}

void OutcomeCounts::add(const OutcomeCounts& other) {
    for (std::size_t i = 0; i < by_outcome.size(); ++i) by_outcome[i] += other.by_outcome[i];
}

namespace {

// An address alone: the path of "https://host/path", or the path itself.
std::string_view path_of_target(std::string_view target) {
    for (std::string_view scheme : {"https://", "http://"}) {
        if (target.starts_with(scheme)) {
            const std::size_t slash = target.find('/', scheme.size());
            return slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    return target;
}

// "10/Oct/2000:13:55:36 -0700" -> 2000-10-10, as the log writes the day.
std::optional<CalendarDate> log_date(std::string_view text) {
    static constexpr std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() < 12 || text[2] != '/' || text[6] != '/' || text[11] != ':') return std::nullopt;
    unsigned day = 0;
    std::int64_t year = 0;
    const auto number = [](std::string_view digits, auto& out) {
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
        return error == std::errc{} && end == digits.data() + digits.size();
    };
    const std::size_t month = months.find(text.substr(3, 3));
    if (!number(text.substr(0, 2), day) || !number(text.substr(7, 4), year) || month % 3 != 0 ||
        !is_real_day(year, static_cast<std::uint32_t>(month / 3 + 1), day))
        return std::nullopt;
    return CalendarDate{year, static_cast<std::uint32_t>(month / 3 + 1), day};
}

// The request of a common or combined log line ("METHOD TARGET PROTOCOL",
// its escapes left as they are) and its day; nothing for a line of another
// form.
std::optional<std::pair<std::string_view, CalendarDate>> log_request(std::string_view line) {
    const std::size_t open = line.find(" [");
    const std::size_t close = line.find("] \"", open);
    if (open == std::string_view::npos || close == std::string_view::npos) return std::nullopt;
    const auto date = log_date(line.substr(open + 2, close - open - 2));
    std::size_t end = close + 3;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
    // After the request: the status, three digits.
    if (!date || end + 5 > line.size() || line[end + 1] != ' ' ||
        !std::all_of(line.begin() + end + 2, line.begin() + end + 5, [](char c) { return c >= '0' && c <= '9'; }) ||
        (end + 5 < line.size() && line[end + 5] != ' '))
        return std::nullopt;
    return std::pair{line.substr(close + 3, end - close - 3), *date};
}

void count_path(ReportTally& tally, std::string_view target) {
    target = path_of_target(target);
    target = target.substr(0, target.find('?'));
    const auto report = report_of_path(target);
    if (!report) {
        ++tally.other_requests;
        return;
    }
    const auto& [outcome, from, to] = *report;
    ++tally.offers[{from, to}].by_outcome[outcome];
    ++tally.reports;
}

}  // namespace

std::optional<std::tuple<std::size_t, std::string, std::string>> report_of_path(std::string_view path) {
    std::array<std::string_view, 3> last;  // outcome, from, to
    for (std::size_t i = last.size(); i-- > 0;) {
        const std::size_t slash = path.rfind('/');
        if (slash == std::string_view::npos || slash + 1 == path.size()) return std::nullopt;
        last[i] = path.substr(slash + 1);
        path = path.substr(0, slash);
    }
    const auto outcome = std::find(report_outcomes.begin(), report_outcomes.end(), last[0]);
    if (outcome == report_outcomes.end()) return std::nullopt;
    return std::tuple{static_cast<std::size_t>(outcome - report_outcomes.begin()), std::string(last[1]),
                      std::string(last[2])};
}

void count_log_line(ReportTally& tally, std::string_view line, const std::optional<CalendarDate>& since,
                    std::string_view where) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty()) return;
    ++tally.lines;
    const bool plain = line.find_first_of(" \t") == std::string_view::npos &&
                       (line.starts_with('/') || line.starts_with("https://") || line.starts_with("http://"));
    if (plain) {
        ++tally.undated;
        count_path(tally, line);
        return;
    }
    const auto request = log_request(line);
    if (!request) {
        if (tally.malformed++ == 0) tally.first_malformed = std::string(where);
        return;
    }
    if (since && request->second < *since) {
        ++tally.before_since;
        return;
    }
    // Clients report with GET; anything else in the log is no report.
    const std::string_view text = request->first;
    const std::size_t space = text.find(' ');
    if (!text.starts_with("GET ") || space == std::string_view::npos) {
        ++tally.other_requests;
        return;
    }
    count_path(tally, text.substr(space + 1, text.find(' ', space + 1) - space - 1));
}

std::optional<std::pair<std::string, OutcomeCounts>> newest_offer(const ReportTally& tally) {
    const std::string* newest = nullptr;
    for (const auto& [offer, counts] : tally.offers) {
        const std::string& to = offer.second;
        if (newest == nullptr || is_newer(to, *newest) || (!is_newer(*newest, to) && to > *newest)) newest = &to;
    }
    if (newest == nullptr) return std::nullopt;
    OutcomeCounts sum;
    for (const auto& [offer, counts] : tally.offers)
        if (offer.second == *newest) sum.add(counts);
    return std::pair{*newest, sum};
}

bool halt_fires(const OutcomeCounts& newest, const HaltRule& rule) {
    // Compared without a division, so that a rate exactly at the threshold
    // never passes it by a rounding.
    return newest.reports() >= rule.min_reports &&
           100.0 * static_cast<double>(newest.failures()) > rule.above_percent * static_cast<double>(newest.reports());
}

}  // namespace tamsel::tool
