// Windows path texts, handled as plain UTF-8 strings.
#pragma once
#include <optional>
#include <string>

namespace tamsel {

// Joins a name to a folder with one backslash between them.
std::string join_path(const std::string& folder, const std::string& name);
// The folder part of a full path (everything before the last separator), or
// nothing when the path has no folder part.
std::optional<std::string> parent_folder(const std::string& path);

}  // namespace tamsel
