#include <windows.h>

#include "platform/win32/implementations.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

std::optional<std::vector<std::uint8_t>> Win32VersionInfo::file_version_info(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide->c_str(), &ignored);
    // No version resource, or one too large to be a real one.
    if (size == 0 || size > 0x100000) return std::nullopt;
    std::vector<std::uint8_t> data(size, 0);
    if (!GetFileVersionInfoW(wide->c_str(), 0, size, data.data())) return std::nullopt;
    return data;
}

}  // namespace tamsel::win32
