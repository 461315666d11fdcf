// Strict standard Base64 (RFC 4648 section 4, with padding). The signature
// line allows exactly one spelling of each value, so everything a lenient
// decoder would forgive is refused here.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tamsel {

// Decodes `text`, or gives nothing when it breaks any rule: only A-Z, a-z,
// 0-9, '+' and '/'; '=' only as one or two final padding characters; a
// length that is a non-zero multiple of 4; unused low bits of the last data
// character zero.
std::optional<std::vector<std::uint8_t>> decode_base64_strict(std::string_view text);

}  // namespace tamsel
