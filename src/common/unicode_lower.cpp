#include "common/unicode_lower.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "common/utf8.h"

namespace tamsel {

namespace {

struct LowerRange {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    std::uint8_t stride;  // 1: a whole block; 2: alternating capital and small letters
};

struct LowerExpansion {
    char32_t from;
    std::uint8_t count;
    char32_t to[3];
};

// kLowerRanges (sorted, disjoint) and kLowerExpansions (sorted), generated
// from one Unicode version; the file names it and the command that remakes it.
#include "common/unicode_lower_table.inc"

void append_lower(std::string& out, char32_t c) {
    const auto expansion = std::lower_bound(std::begin(kLowerExpansions), std::end(kLowerExpansions), c,
                                            [](const LowerExpansion& e, char32_t v) { return e.from < v; });
    if (expansion != std::end(kLowerExpansions) && expansion->from == c) {
        for (std::size_t k = 0; k < expansion->count; ++k) append_utf8(out, expansion->to[k]);
        return;
    }
    // The last range starting at or before c is the only one that can hold it.
    const auto after = std::upper_bound(std::begin(kLowerRanges), std::end(kLowerRanges), c,
                                        [](char32_t v, const LowerRange& r) { return v < r.first; });
    if (after != std::begin(kLowerRanges)) {
        const LowerRange& range = *std::prev(after);
        if (c <= range.last && (c - range.first) % range.stride == 0) {
            c = static_cast<char32_t>(static_cast<std::int32_t>(c) + range.delta);
        }
    }
    append_utf8(out, c);
}

}  // namespace

std::string lower_case_full(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const DecodedCodePoint step = decode_code_point(utf8);
        append_lower(out, step.code_point);
        utf8.remove_prefix(step.length);
    }
    return out;
}

}  // namespace tamsel
