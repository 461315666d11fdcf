// The installed version read from real executables built with windres.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/win32/implementations.h"
#include "update/version.h"

namespace tamsel {
namespace {

// The build hands over paths with forward slashes; Windows paths use
// backslashes.
std::string windows_path(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TEST(VersionInfo, InstalledVersionOfAStandIn) {
    win32::Win32VersionInfo system;
    EXPECT_EQ(installed_version_text(system, windows_path(TAMSEL_STANDIN_V4_12_305_7_EXE)), "4.12.305");
}

TEST(VersionInfo, NoVersionWithoutAVersionResource) {
    win32::Win32VersionInfo system;
    const std::string exe = windows_path(TAMSEL_STANDIN_UNVERSIONED_EXE);
    EXPECT_EQ(installed_version_text(system, exe), std::nullopt);
}

TEST(VersionInfo, NoVersionWithoutAFile) {
    win32::Win32VersionInfo system;
    const std::string exe = windows_path(TAMSEL_STANDIN_V4_12_305_7_EXE);
    EXPECT_EQ(installed_version_text(system, exe.substr(0, exe.rfind('\\')) + "\\Missing.exe"), std::nullopt);
}

TEST(VersionInfo, FixedFileInformationSitsWhereItIsReadFrom) {
    win32::Win32VersionInfo system;
    const auto info = system.file_version_info(windows_path(TAMSEL_STANDIN_V4_12_305_7_EXE));
    ASSERT_TRUE(info.has_value());
    ASSERT_GE(info->size(), 72u);
    // dwSignature, then the product version 9.8.7.6 after the file version:
    // proof that the text above comes from the file version.
    EXPECT_EQ((*info)[40], 0xBD);
    EXPECT_EQ((*info)[43], 0xFE);
    EXPECT_EQ((*info)[58], 9);  // high word of dwProductVersionMS
}

}  // namespace
}  // namespace tamsel
