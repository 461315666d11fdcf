// state.toml as found on disk, read through the fake files: whatever reads
// must write back to a text that reads to the same state.
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "fakes/fake_platform.h"
#include "fuzz_check.h"
#include "state/state.h"

namespace {

using namespace tamsel;

const std::string folder = "C:\\ProgramData\\Tam_Sel\\update";
const std::string path = folder + "\\state.toml";

// A date is written as a bare TOML local date, which has no negative years:
// those are written as year 0 by design. Nothing else may change.
State as_written(State state) {
    if (state.last_try && state.last_try->year < 0) state.last_try->year = 0;
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fakes::FakeFiles files;
    files.folders.insert(folder);
    files.files[path].assign(reinterpret_cast<const char*>(data), size);

    const auto first = read_state(files, path);
    if (!first) {
        FUZZ_REQUIRE(!first.error().reason.empty());
        return 0;
    }
    const State& state = *first;
    // Everything a read gives can be written: its texts came from UTF-8 and
    // `since` was read within a TOML integer's range.
    const auto text = state_text(state);
    FUZZ_REQUIRE(text.has_value());
    FUZZ_REQUIRE(write_state(files, state, path));
    FUZZ_REQUIRE(files.files[path] == *text);
    // CR LF line ends only.
    for (std::size_t i = 0; i < text->size(); ++i) {
        if ((*text)[i] == '\n') FUZZ_REQUIRE(i > 0 && (*text)[i - 1] == '\r');
        if ((*text)[i] == '\r') FUZZ_REQUIRE(i + 1 < text->size() && (*text)[i + 1] == '\n');
    }

    const auto second = read_state(files, path);
    FUZZ_REQUIRE(second.ok());
    FUZZ_REQUIRE(*second == as_written(state));
    // The written text is a fixed point.
    FUZZ_REQUIRE(state_text(*second) == text);
    return 0;
}
