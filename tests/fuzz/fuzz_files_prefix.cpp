// The download url against the files prefix: what passes must name a plain
// file under the prefix, on the update server the prefix names.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "feed/https_address.h"
#include "fuzz_check.h"
#include "update/decision.h"

using namespace tamsel;

namespace {

bool plain_byte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '/';
}

}  // namespace

// Input: one byte that picks the prefix (the product's, or one of the input's
// own up to an undoubled backslash), then the url.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool product_prefix = input.ConsumeBool();
    const std::string prefix =
        product_prefix ? std::string("https://localhost/tamsel/files/") : input.ConsumeRandomLengthString(size);
    const std::string url = input.ConsumeRemainingBytesAsString();

    if (!is_under_files_prefix(url, prefix)) return 0;
    FUZZ_REQUIRE(url.starts_with(prefix));
    const std::string_view rest = std::string_view(url).substr(prefix.size());
    FUZZ_REQUIRE(!rest.empty() && rest.size() <= address_tail_limit);
    for (const char c : rest) FUZZ_REQUIRE(plain_byte(c));
    FUZZ_REQUIRE(!rest.starts_with("/") && !rest.ends_with("/"));
    FUZZ_REQUIRE(rest.find("//") == std::string_view::npos);
    const std::string bounded = "/" + std::string(rest) + "/";
    FUZZ_REQUIRE(bounded.find("/./") == std::string::npos && bounded.find("/../") == std::string::npos);

    // Under the product's prefix the download goes to that server, to a path
    // below the files folder.
    if (product_prefix) {
        const auto split = split_https_address(url);
        FUZZ_REQUIRE(split && split->host == "localhost");
        FUZZ_REQUIRE(split->path == "/tamsel/files/" + std::string(rest));
    }
    return 0;
}
