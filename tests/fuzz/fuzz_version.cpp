// Two version texts, as a feed and the installed program give them, through
// the newer-than test.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "update/version.h"

using namespace tamsel;

// Input: the first text up to a backslash that is not doubled (a doubled one
// is a backslash of the text), the second text after it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string offered = input.ConsumeRandomLengthString(size);
    const std::string installed = input.ConsumeRemainingBytesAsString();

    const bool forward = is_newer(offered, installed);
    const bool backward = is_newer(installed, offered);
    FUZZ_REQUIRE(!(forward && backward));
    FUZZ_REQUIRE(!is_newer(offered, offered));
    // Neither is newer exactly when both read as the same four numbers.
    const VersionNumber a = read_version_number(offered);
    const VersionNumber b = read_version_number(installed);
    FUZZ_REQUIRE((!forward && !backward) == (a == b));

    // Missing pieces read as 0: with fewer than four pieces, a ".0" more
    // reads the same.
    if (std::count(offered.begin(), offered.end(), '.') < 3) {
        FUZZ_REQUIRE(read_version_number(offered + ".0") == a);
    }
    // Blanks around the whole text are blanks around its first and last piece.
    FUZZ_REQUIRE(read_version_number(" " + offered + "\t") == a);
    // A fifth piece is ignored.
    if (std::count(offered.begin(), offered.end(), '.') >= 4) {
        FUZZ_REQUIRE(read_version_number(offered + "9") == a);
    }
    return 0;
}
