// Version resources of executables: what the installed program says it is.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamsel {

class VersionInfo {
public:
    virtual ~VersionInfo() = default;
    // The raw version resource of a file (GetFileVersionInfoSizeW, then
    // GetFileVersionInfoW), or nothing when the file has none.
    virtual std::optional<std::vector<std::uint8_t>> file_version_info(const std::string& path) = 0;
};

}  // namespace tamsel
