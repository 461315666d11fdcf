// Files: the few file operations the updater needs, with Windows semantics.
// Paths are UTF-8; the Win32 side converts them to UTF-16.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"

namespace tamsel {

// Every failure below carries the Windows error code of the call that
// failed, for the log's number field.

// An open file. Closing happens when the object is destroyed.
class FileHandle {
public:
    virtual ~FileHandle() = default;
    // One write request; returns the bytes accepted (possibly fewer than
    // asked, possibly 0).
    virtual Result<std::size_t> write(const void* data, std::size_t size) = 0;
    // One read request; returns the bytes read (0 at the end).
    virtual Result<std::size_t> read(void* buffer, std::size_t size) = 0;
    // Pushes written data through to the disk (FlushFileBuffers).
    virtual Result<void> flush() = 0;
};

// Writes every byte, asking again after a short write; fails when a write
// fails or accepts nothing (cause 0).
inline Result<void> write_all(FileHandle& file, const void* data, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const auto written = file.write(next, size);
        if (!written) return written.error();
        if (*written == 0) return Failure{};
        next += *written;
        size -= *written;
    }
    return {};
}

using FileResult = Result<std::unique_ptr<FileHandle>>;

// All attributes set: what GetFileAttributesW returns for a path that
// cannot be read.
inline constexpr std::uint32_t invalid_file_attributes = 0xFFFFFFFFu;

class Files {
public:
    virtual ~Files() = default;
    // Append-only access (no overwrite), created when missing, sharing read,
    // write and delete with other processes.
    virtual FileResult open_append(const std::string& path) = 0;
    // Created or truncated, write access, sharing read, write and delete.
    virtual FileResult create_truncate(const std::string& path) = 0;
    // Read access, sharing read, write and delete. A file that does not
    // exist, or a folder on its path that does not, is no failure: the
    // handle is then empty.
    virtual FileResult open_read(const std::string& path) = 0;
    // The size from the file system's metadata.
    virtual Result<std::uint64_t> size(const std::string& path) = 0;
    // Move with replace-existing and write-through (MoveFileExW, flags 9).
    virtual Result<void> replace_file(const std::string& from, const std::string& to) = 0;
    virtual Result<void> remove(const std::string& path) = 0;
    // GetFileAttributesW; invalid_file_attributes when the path cannot be read.
    virtual std::uint32_t attributes(const std::string& path) = 0;
    // Read and write access with no sharing at all, created when missing
    // (OPEN_ALWAYS) with a protected DACL granting the system account and the
    // Administrators group alone; an existing file keeps its own. Fails
    // when the file cannot be opened, whether another process holds it open
    // (a sharing violation) or for any other reason. No other process can
    // open the file for its data while the handle lives, so holding it is an
    // exclusion between processes that the system ends with the process.
    virtual FileResult open_exclusive(const std::string& path) = 0;
    // The names in a folder, without "." and ".." (FindFirstFileExW).
    // Implementations that never prepare folders keep the default.
    virtual Result<std::vector<std::string>> list(const std::string&) { return Failure{}; }
    // MoveFileExW with no flags: renames a file or a folder (a link itself,
    // not what it points to) on the same volume; never replaces anything.
    virtual Result<void> move(const std::string&, const std::string&) { return Failure{}; }
};

}  // namespace tamsel
