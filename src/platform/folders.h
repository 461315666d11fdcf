// Folders: where the running executable lies and the system's known folders.
#pragma once
#include <optional>
#include <string>

namespace tamsel {

enum class KnownFolder {
    program_data,  // FOLDERID_ProgramData
    windows,       // FOLDERID_Windows
};

class Folders {
public:
    virtual ~Folders() = default;
    // The full path of the running executable, or nothing.
    virtual std::optional<std::string> own_executable_path() = 0;
    // SHGetKnownFolderPath with no flags and no token, converted to UTF-8;
    // nothing when it fails or the path does not convert without loss.
    virtual std::optional<std::string> known_folder_path(KnownFolder folder) = 0;
};

}  // namespace tamsel
