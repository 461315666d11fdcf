// Splitting an https address into the host and path a fetch needs.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace tamsel {

struct HttpsAddress {
    std::string host;
    std::string path;  // always begins with "/"
};

// "https://host/path" into host and path, or nothing when refused: anything
// but a lower-case "https://" scheme, an empty host, or a host that carries a
// port or user information (":" or "@"). Nothing is decoded or normalised; a
// query or fragment stays in the path as written.
std::optional<HttpsAddress> split_https_address(std::string_view address);

// A part of a path the updater builds or accepts between slashes: not
// empty, not "." or "..", only ASCII letters, digits, "-", "." and "_".
bool is_plain_path_part(std::string_view part);

}  // namespace tamsel
