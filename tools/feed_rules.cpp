#include "tools/feed_rules.h"

#include <algorithm>
#include <cstdint>

namespace tamsel::tool {

std::optional<std::string> version_text_problem(std::string_view version) {
    std::size_t pieces = 0;
    std::string_view rest = version;
    while (true) {
        const std::size_t dot = rest.find('.');
        const std::string_view piece = rest.substr(0, dot);
        ++pieces;
        if (piece.empty() || !std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return "is not numbers joined by \".\": clients read each piece that is not a number as 0";
        if (piece.size() > 1 && piece.front() == '0')
            return "has a leading zero: clients find it installed, but a stop order or a failed entry must name it "
                   "with that zero, as written";
        if (piece.size() > 5 || std::stoul(std::string(piece)) > 65535)
            return "has a number over 65535: no file version can hold it, so clients never find it installed and "
                   "install it again every day";
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    if (pieces > 3)
        return "has a fourth piece: clients ignore it, so a later release that differs from this one only there is "
               "never offered as newer";
    if (pieces < 3)
        return "has fewer than three pieces: clients find it installed, but a stop order or a failed entry must name "
               "it as written";
    return std::nullopt;
}

std::optional<std::string> report_problem(const FeedSection<Report>& report, std::string_view host) {
    if (report.malformed()) return "[report] must be a table with a text prefix";
    if (!report.present()) return std::nullopt;
    const auto refusal = report_prefix_refusal(report.value.prefix, host);
    if (!refusal) return std::nullopt;
    return "[report] prefix " + report.value.prefix + " is " + *refusal;
}

std::string report_setting(const FeedSection<Report>& report, std::string_view host) {
    if (const auto problem = report_problem(report, host)) return *problem + ": clients send no reports";
    if (!report.present()) return "no [report]: clients send no reports";
    return "clients report each installation's outcome to " + report.value.prefix + "<outcome>/<from>/<to>";
}

bool is_plain_host(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    });
}

std::string files_prefix_for(std::string_view host) { return "https://" + std::string(host) + std::string(files_path); }
std::string feed_url_for(std::string_view host) { return "https://" + std::string(host) + std::string(feed_path); }

std::optional<std::string> product_version_of(std::string_view image) {
    const auto number = [&image](std::size_t at, int bytes) -> std::optional<std::uint32_t> {
        if (at + bytes > image.size()) return std::nullopt;
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(image[at + i]);
        return value;
    };
    // DOS header -> PE header -> optional header's resource directory (entry
    // 2) -> the section holding it -> VS_FIXEDFILEINFO, found by its signature.
    const auto pe = number(0x3C, 4);
    if (!image.starts_with("MZ") || !pe || image.substr(*pe, 4) != std::string_view("PE\0\0", 4)) return std::nullopt;
    const auto sections = number(*pe + 6, 2);
    const auto optional_size = number(*pe + 20, 2);
    const auto magic = number(*pe + 24, 2);
    if (!sections || !optional_size || !magic || (*magic != 0x10B && *magic != 0x20B)) return std::nullopt;
    const std::size_t directories = *pe + 24 + (*magic == 0x10B ? 96 : 112);
    const auto resources = number(directories + 2 * 8, 4);
    const auto resources_size = number(directories + 2 * 8 + 4, 4);
    if (!resources || !resources_size || *resources == 0) return std::nullopt;
    for (std::uint32_t i = 0; i < *sections; ++i) {
        const std::size_t header = *pe + 24 + *optional_size + i * 40;
        const auto address = number(header + 12, 4);
        const auto raw_size = number(header + 16, 4);
        const auto raw = number(header + 20, 4);
        if (!address || !raw_size || !raw) return std::nullopt;
        if (*resources < *address || *resources - *address >= *raw_size) continue;
        const std::size_t start = *raw + (*resources - *address);
        const std::string_view section = image.substr(std::min<std::size_t>(start, image.size()), *resources_size);
        const std::size_t at = section.find(std::string_view("\xBD\x04\xEF\xFE\x00\x00\x01\x00", 8));
        if (at == std::string_view::npos) return std::nullopt;
        const auto ms = number(start + at + 16, 4);
        const auto ls = number(start + at + 20, 4);
        if (!ms || !ls) return std::nullopt;
        return std::to_string(*ms >> 16) + "." + std::to_string(*ms & 0xFFFF) + "." + std::to_string(*ls >> 16) + "." +
               std::to_string(*ls & 0xFFFF);
    }
    return std::nullopt;
}

bool looks_signed(std::string_view file) {
    const std::size_t start = file.find_first_not_of(" \t\r");
    return start != std::string_view::npos && file.substr(start).starts_with("signature");
}

}  // namespace tamsel::tool
