#include "entry/paths.h"

namespace tamsel {

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '\\' || last == '/') return folder + name;
    return folder + '\\' + name;
}

std::optional<std::string> parent_folder(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return std::nullopt;
    // "C:\x.exe" lives in "C:\", not in the drive-relative "C:".
    if (cut == 2 && path[1] == ':') return path.substr(0, 3);
    return path.substr(0, cut);
}

}  // namespace tamsel
