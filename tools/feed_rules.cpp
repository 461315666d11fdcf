#include "tools/feed_rules.h"

#include <algorithm>

namespace tamsel::tool {

std::optional<std::string> version_text_problem(std::string_view version) {
    std::size_t pieces = 0;
    std::string_view rest = version;
    while (true) {
        const std::size_t dot = rest.find('.');
        const std::string_view piece = rest.substr(0, dot);
        ++pieces;
        if (piece.empty() || !std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return "is not numbers joined by \".\"";
        if (piece.size() > 1 && piece.front() == '0') return "has a leading zero";
        if (piece.size() > 5 || std::stoul(std::string(piece)) > 65535) return "has a number over 65535";
        if (dot == std::string_view::npos) break;
        rest.remove_prefix(dot + 1);
    }
    if (pieces > 3) return "has a fourth piece";
    if (pieces < 3) return "has fewer than three pieces";
    return std::nullopt;
}

bool is_plain_host(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    });
}

std::string files_prefix_for(std::string_view host) { return "https://" + std::string(host) + std::string(files_path); }
std::string feed_url_for(std::string_view host) { return "https://" + std::string(host) + std::string(feed_path); }

bool looks_signed(std::string_view file) {
    const std::size_t start = file.find_first_not_of(" \t\r");
    return start != std::string_view::npos && file.substr(start).starts_with("signature");
}

}  // namespace tamsel::tool
