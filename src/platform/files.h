// Files: the few file operations the updater needs, with Windows semantics.
// Paths are UTF-8; the Win32 side converts them to UTF-16.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamsel {

// An open file. Closing happens when the object is destroyed.
class FileHandle {
public:
    virtual ~FileHandle() = default;
    // One write request; returns the bytes accepted (possibly fewer than
    // asked, possibly 0) or nothing when the write failed.
    virtual std::optional<std::size_t> write(const void* data, std::size_t size) = 0;
    // One read request; returns the bytes read (0 at the end) or nothing on failure.
    virtual std::optional<std::size_t> read(void* buffer, std::size_t size) = 0;
    // Pushes written data through to the disk (FlushFileBuffers).
    virtual bool flush() = 0;
};

// Writes every byte, asking again after a short write; false when a write
// fails or accepts nothing.
inline bool write_all(FileHandle& file, const void* data, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const auto written = file.write(next, size);
        if (!written || *written == 0) return false;
        next += *written;
        size -= *written;
    }
    return true;
}

enum class OpenForRead {
    opened,
    not_found,  // the file or a folder on its path does not exist
    failed,     // any other reason
};

// All attributes set: what GetFileAttributesW returns for a path that
// cannot be read.
inline constexpr std::uint32_t invalid_file_attributes = 0xFFFFFFFFu;

class Files {
public:
    virtual ~Files() = default;
    // Append-only access (no overwrite), created when missing, sharing read,
    // write and delete with other processes.
    virtual std::unique_ptr<FileHandle> open_append(const std::string& path) = 0;
    // Created or truncated, write access, sharing read, write and delete.
    virtual std::unique_ptr<FileHandle> create_truncate(const std::string& path) = 0;
    // Read access, sharing read, write and delete. `file` is set when opened.
    virtual OpenForRead open_read(const std::string& path, std::unique_ptr<FileHandle>& file) = 0;
    // The size from the file system's metadata, or nothing when it cannot be read.
    virtual std::optional<std::uint64_t> size(const std::string& path) = 0;
    // Move with replace-existing and write-through (MoveFileExW, flags 9).
    virtual bool replace_file(const std::string& from, const std::string& to) = 0;
    virtual bool remove(const std::string& path) = 0;
    // GetFileAttributesW; invalid_file_attributes when the path cannot be read.
    virtual std::uint32_t attributes(const std::string& path) = 0;
    // Read and write access with no sharing at all, created when missing
    // (OPEN_ALWAYS) with a protected DACL granting the system account and the
    // Administrators group alone; an existing file keeps its own. Nothing
    // when the file cannot be opened, whether another process holds it open
    // (a sharing violation) or for any other reason. No other process can
    // open the file for its data while the handle lives, so holding it is an
    // exclusion between processes that the system ends with the process.
    virtual std::unique_ptr<FileHandle> open_exclusive(const std::string& path) = 0;
    // The names in a folder, without "." and ".." (FindFirstFileExW); nothing
    // when it cannot be listed. Implementations that never prepare folders
    // keep the default.
    virtual std::optional<std::vector<std::string>> list(const std::string&) { return std::nullopt; }
    // MoveFileExW with no flags: renames a file or a folder (a link itself,
    // not what it points to) on the same volume; never replaces anything.
    virtual bool move(const std::string&, const std::string&) { return false; }

    // The Windows error code of the latest call that failed on this object or
    // on a file it opened, for the log's number field. Read it right after a
    // call failed: a later call that fails replaces it, one that succeeds
    // leaves it. 0 where the implementation keeps none.
    virtual std::uint32_t last_error() const { return 0; }
};

}  // namespace tamsel
