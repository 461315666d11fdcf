#include "feed/https_address.h"

#include <algorithm>

namespace tamsel {

std::optional<HttpsAddress> split_https_address(std::string_view address) {
    constexpr std::string_view scheme = "https://";
    if (address.size() <= scheme.size() || !address.starts_with(scheme)) return std::nullopt;
    const std::string_view rest = address.substr(scheme.size());
    const std::size_t slash = rest.find('/');
    HttpsAddress split;
    if (slash == std::string_view::npos) {
        split.host = rest;
        split.path = "/";
    } else {
        split.host = rest.substr(0, slash);
        split.path = rest.substr(slash);
    }
    if (split.host.empty() || split.host.find_first_of(":@") != std::string::npos) return std::nullopt;
    return split;
}

bool is_plain_path_part(std::string_view part) {
    if (part.empty() || part == "." || part == "..") return false;
    return std::all_of(part.begin(), part.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '_';
    });
}

}  // namespace tamsel
