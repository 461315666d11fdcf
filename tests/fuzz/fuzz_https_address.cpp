// An https address (the feed's download url) split into host and path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "feed/https_address.h"
#include "fuzz_check.h"

using namespace tamsel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view address(reinterpret_cast<const char*>(data), size);
    const auto split = split_https_address(address);
    if (!split) {
        // Refused only for the scheme, an empty host, a port or user information.
        if (address.starts_with("https://") && address.size() > 8) {
            const std::string_view rest = address.substr(8);
            const std::string_view host = rest.substr(0, rest.find('/'));
            FUZZ_REQUIRE(host.empty() || host.find_first_of(":@") != std::string_view::npos);
        }
        return 0;
    }
    FUZZ_REQUIRE(address.starts_with("https://"));
    FUZZ_REQUIRE(!split->host.empty());
    FUZZ_REQUIRE(split->host.find_first_of(":@/") == std::string::npos);
    FUZZ_REQUIRE(split->path.starts_with("/"));
    // Nothing is decoded or normalised: the parts give the address back,
    // with the "/" only added when the address had no path.
    const std::string joined = "https://" + split->host + split->path;
    FUZZ_REQUIRE(joined == address || (joined == std::string(address) + "/" && split->path == "/"));
    // Splitting the joined address again gives the same parts.
    const auto again = split_https_address(joined);
    FUZZ_REQUIRE(again && again->host == split->host && again->path == split->path);
    return 0;
}
