#include "update/version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "support/test_bytes.h"

namespace tamsel {
namespace {

// Every row is checked both ways round: is_newer(a, b) and is_newer(b, a).
TEST(VersionText, ComparesAsFourNumbers) {
    enum Order { newer, same, older };
    struct Case {
        std::string a;
        std::string b;
        Order order;
    };
    const std::vector<Case> cases = {
        {"1.10", "1.9", newer},  // numbers, not letters
        {"2", "1.9.9.9", newer},
        {"1.2", "1.2.0.0", same},
        {"01.02", "1.2", same},
        {"1.2.3.4.5", "1.2.3.4", same},  // the fifth piece is ignored
        {"1.2.3.5", "1.2.3.4.9", newer},
        {"1.2.x", "1.2.0.0", same},
        {"1.2.-1", "1.2.0.0", same},
        {"1.2.99999999999", "1.2.0.0", same},
        {"1.2.4294967296", "1.2", same},
        {"1.2.4294967295", "1.2.4294967294", newer},
        {"00000000000000000001.1", "1.1", same},
        {"1..2", "1.0.2", same},  // empty pieces are kept and read as 0
        {"1.2.", "1.2", same},
        {".5", "0.5", same},
        {"", "0.0.0.0", same},
        {"0.0.0.1", "", newer},
        {" 1 . 3 ", "1.3", same},
        {"\t1\r\n.\v2\f", "1.2", same},
        {"\xE3\x80\x80" "7\xE3\x80\x80.8", "7.8", same},  // U+3000
        {"\xC2\xA0\xC2\x85" "1.\xE2\x80\x8A" "2\xE2\x80\xAF\xE2\x81\x9F", "1.2", same},  // U+00A0 U+0085 U+200A U+202F U+205F
        {"\xE1\x9A\x80" "3.\xE2\x80\xA8" "4\xE2\x80\xA9", "3.4", same},  // U+1680 U+2028 U+2029
        {"\xE2\x80\x8B" "5", "0", same},  // U+200B is no white space
        {"\xEF\xBC\x91", "0", same},      // a full-width digit is no ASCII digit
        {"\xff.2", "0.2", same},
        {"+3", "3", same},
        {" +3 .+0", "3", same},
        {"+3", "2.99", newer},
        {"1 2", "0", same},
        {"+", "0", same},
        {"-", "0", same},
        {"++3", "0", same},
        {"+ 3", "0", same},
        {"3+", "0", same},
        {"1e3", "0", same},
        {"4.12.305.8", "4.12.305", newer},
        {"4.12.306", "4.12.305", newer},
        {"4.12.304.9", "4.12.305", older},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_newer(c.a, c.b), c.order == newer) << '"' << c.a << "\" vs \"" << c.b << '"';
        EXPECT_EQ(is_newer(c.b, c.a), c.order == older) << '"' << c.b << "\" vs \"" << c.a << '"';
    }
}

// Against an installed program only three pieces exist: a fourth piece can
// neither make an offer due nor keep a setup from counting as installed.
TEST(VersionText, AgainstTheInstalledTextOnlyThreePiecesCount) {
    struct Case {
        const char* offered;
        const char* installed;
        bool newer;
        bool installed_it;
    };
    const Case cases[] = {
        {"4.12.305.8", "4.12.305", false, true},
        {"4.12.306", "4.12.305", true, false},
        {"4.12.306.1", "4.12.305", true, false},
        {"2.1.0.0", "2.1.0", false, true},
        {"02.1.0", "2.1.0", false, true},
        {"2.1", "2.1.0", false, true},
        {"2.1.0", "2.1.1", false, false},
        {"1.0.0", "", true, false},
        {"0.0.0", "", false, false},  // an unreadable installed version equals nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_newer_than_installed(c.offered, c.installed), c.newer) << c.offered << " over " << c.installed;
        EXPECT_EQ(is_installed_version(c.offered, c.installed), c.installed_it) << c.offered << " as " << c.installed;
    }
}

using test_support::version_info;

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
