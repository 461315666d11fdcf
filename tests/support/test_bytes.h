// Byte helpers shared by every test tier (unit, Win32, fuzz, tool tests):
// hex and Base64 for building feed answers and reading test vectors, and a
// version information block for the version tests and the fakes. Header
// only, so each tier takes it without a library of its own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel::test_support {

// Lower-case hex, two digits a byte.
inline std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// The bytes of a hex text, two digits at a time (a last odd digit is
// dropped); the texts are the tests' own or from test vectors.
inline std::vector<std::uint8_t> unhex(std::string_view text) {
    const auto digit = [](char c) {
        return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    };
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    return bytes;
}

// Standard Base64 with padding, as a feed answer's signature line holds it.
inline std::string base64(std::span<const std::uint8_t> bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t size = bytes.size();
    std::string text;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t n = std::uint32_t{bytes[i]} << 16 | (i + 1 < size ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                (i + 2 < size ? std::uint32_t{bytes[i + 2]} : 0);
        text += alphabet[n >> 18 & 63];
        text += alphabet[n >> 12 & 63];
        text += i + 1 < size ? alphabet[n >> 6 & 63] : '=';
        text += i + 2 < size ? alphabet[n & 63] : '=';
    }
    return text;
}

// A version information block as GetFileVersionInfoW lays it out: the
// VS_VERSIONINFO header with its key, then VS_FIXEDFILEINFO at offset 40
// holding file version a.b.c.d. A `size` below 64 cuts the block short.
inline std::vector<std::uint8_t> version_info(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d = 0,
                                              std::size_t size = 0x200) {
    std::vector<std::uint8_t> info(size, 0);
    auto put16 = [&](std::size_t at, std::uint16_t value) {
        if (at + 2 > size) return;
        info[at] = static_cast<std::uint8_t>(value);
        info[at + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put16(0, static_cast<std::uint16_t>(size));
    put16(2, 52);
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < 15; ++i) put16(6 + 2 * i, key[i]);
    put16(40, 0x04BD);
    put16(42, 0xFEEF);  // signature 0xFEEF04BD
    put16(44, 0);
    put16(46, 1);  // structure version 1.0
    put16(48, b);  // dwFileVersionMS: minor, major
    put16(50, a);
    put16(52, d);  // dwFileVersionLS: fourth, build
    put16(54, c);
    put16(56, 9);  // product version 9.9.9.9, never looked at
    put16(58, 9);
    put16(60, 9);
    put16(62, 9);
    return info;
}

}  // namespace tamsel::test_support
