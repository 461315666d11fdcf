#include "update/version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"

namespace tamsel {
namespace {

TEST(VersionNumber, ReadingTexts) {
    struct Case {
        std::string text;
        VersionNumber expected;
    };
    const std::vector<Case> cases = {
        {"1.2.3.4", {1, 2, 3, 4}},
        {"1.2", {1, 2, 0, 0}},
        {"01.02", {1, 2, 0, 0}},
        {"1.2.3.4.5", {1, 2, 3, 4}},
        {"1.2.x", {1, 2, 0, 0}},
        {"1.2.-1", {1, 2, 0, 0}},
        {"1.2.99999999999", {1, 2, 0, 0}},
        {"4294967295.4294967296", {4294967295u, 0, 0, 0}},
        {"1..2", {1, 0, 2, 0}},
        {"1.2.", {1, 2, 0, 0}},
        {".5", {0, 5, 0, 0}},
        {"", {0, 0, 0, 0}},
        {" 1 . 3 ", {1, 3, 0, 0}},
        {"\t1\r\n.\v2\f", {1, 2, 0, 0}},
        {"\xE3\x80\x80" "7\xE3\x80\x80.8", {7, 8, 0, 0}},                    // U+3000
        {"\xC2\xA0\xC2\x85" "1.\xE2\x80\x8A" "2\xE2\x80\xAF\xE2\x81\x9F", {1, 2, 0, 0}},  // U+00A0, U+0085, U+200A, U+202F, U+205F
        {"\xE1\x9A\x80" "3.\xE2\x80\xA8" "4\xE2\x80\xA9", {3, 4, 0, 0}},      // U+1680, U+2028, U+2029
        {"\xE2\x80\x8B" "5", {0, 0, 0, 0}},  // U+200B is no white space
        {"1 2", {0, 0, 0, 0}},
        {"+3", {3, 0, 0, 0}},
        {" +3 .+0", {3, 0, 0, 0}},
        {"+", {0, 0, 0, 0}},
        {"-", {0, 0, 0, 0}},
        {"++3", {0, 0, 0, 0}},
        {"+ 3", {0, 0, 0, 0}},
        {"3+", {0, 0, 0, 0}},
        {"1e3.0x10", {0, 0, 0, 0}},
        {"\xEF\xBC\x91.2", {0, 2, 0, 0}},  // a full-width digit is not an ASCII digit
        {"00000000000000000001.1", {1, 1, 0, 0}},
        {"\xff.2", {0, 2, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(read_version_number(c.text), c.expected) << c.text;
}

TEST(VersionNumber, NewerThan) {
    struct Case {
        const char* offered;
        const char* installed;
        bool newer;
    };
    const std::vector<Case> cases = {
        {"1.10", "1.9", true},
        {"1.9", "1.10", false},
        {"2", "1.9.9.9", true},
        {"1.9.9.9", "2", false},
        {"1.2", "1.2.0.0", false},
        {"1.2.0.0", "1.2", false},
        {"01.02", "1.2", false},
        {"1.2", "01.02", false},
        {"1.2.3.4.5", "1.2.3.4", false},
        {"1.2.3.5", "1.2.3.4.9", true},
        {"1.2.x", "1.2", false},
        {"1.2.-1", "1.2", false},
        {"1.2.99999999999", "1.2", false},
        {"1.2.1", "1.2.99999999999", true},
        {" 1 . 3 ", "1.2.9", true},
        {"+3", "2.99", true},
        {"4.12.305", "4.12.305", false},
        {"4.12.305.8", "4.12.305", true},
        {"4.12.306", "4.12.305", true},
        {"4.12.304.9", "4.12.305", false},
        {"", "", false},
        {"0.0.0.1", "", true},
        {"1.0", "garbage", true},
        {"4294967295.0", "4294967294.4294967295", true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_newer(c.offered, c.installed), c.newer) << c.offered << " vs " << c.installed;
}

// A version information block as GetFileVersionInfoW lays it out: the
// VS_VERSIONINFO header with its key, then VS_FIXEDFILEINFO at offset 40.
std::vector<std::uint8_t> version_info(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d,
                                       std::size_t size = 0x200) {
    std::vector<std::uint8_t> info(size, 0);
    auto put16 = [&](std::size_t at, std::uint16_t value) {
        if (at + 2 > size) return;  // a block cut short
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

TEST(InstalledVersion, FromTheFixedFileInformation) {
    EXPECT_EQ(version_text_from_info(version_info(4, 12, 305, 7)), "4.12.305");
    EXPECT_EQ(version_text_from_info(version_info(0, 0, 0, 0)), "0.0.0");
    EXPECT_EQ(version_text_from_info(version_info(65535, 65535, 65535, 65535)), "65535.65535.65535");
    EXPECT_EQ(version_text_from_info(version_info(1, 2, 3, 4, 56)), "1.2.3");
    EXPECT_EQ(version_text_from_info(version_info(1, 2, 3, 4, 0x100000)), "1.2.3");
}

TEST(InstalledVersion, NoVersion) {
    EXPECT_EQ(version_text_from_info({}), std::nullopt);
    EXPECT_EQ(version_text_from_info(version_info(1, 2, 3, 4, 55)), std::nullopt);
    EXPECT_EQ(version_text_from_info(version_info(1, 2, 3, 4, 0x100001)), std::nullopt);
    auto wrong_signature = version_info(1, 2, 3, 4);
    wrong_signature[43] = 0xFF;
    EXPECT_EQ(version_text_from_info(wrong_signature), std::nullopt);
    auto shifted = version_info(1, 2, 3, 4);  // the fixed information elsewhere is not searched for
    shifted.insert(shifted.begin() + 40, 4, 0);
    EXPECT_EQ(version_text_from_info(shifted), std::nullopt);
}

TEST(InstalledVersion, ThroughThePlatform) {
    fakes::FakeSystem system;
    const std::string exe = "C:\\Program Files\\Tamsel\\Tamsel.exe";
    EXPECT_EQ(installed_version_text(system, exe), std::nullopt);
    system.version_infos[exe] = version_info(4, 12, 305, 7);
    const auto installed = installed_version_text(system, exe);
    EXPECT_EQ(installed, "4.12.305");
    // The fourth number is lost, so an offer written with one is newer.
    EXPECT_FALSE(is_newer("4.12.305", *installed));
    EXPECT_TRUE(is_newer("4.12.305.8", *installed));
    EXPECT_TRUE(is_newer("4.12.306", *installed));
}

}  // namespace
}  // namespace tamsel
