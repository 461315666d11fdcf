#include "feed/base64.h"

namespace tamsel {
namespace {

constexpr int invalid = -1;

constexpr int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return invalid;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decode_base64_strict(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    const std::string_view data = text.substr(0, text.size() - padding);

    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (const char c : data) {
        const int value = sextet(c);  // '=' inside the data is refused here
        if (value == invalid) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> bit_count));
            bits &= (1u << bit_count) - 1;
        }
    }
    // After the last full byte, 2 bits (one '=') or 4 bits (two '=') remain;
    // a canonical encoding leaves them zero.
    if (bits != 0) return std::nullopt;
    return out;
}

}  // namespace tamsel
