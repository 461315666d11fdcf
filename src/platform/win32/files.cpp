#include <windows.h>
#include <sddl.h>

#include "platform/win32/implementations.h"
#include "platform/win32/last_error.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {
namespace {

class Win32FileHandle final : public FileHandle {
public:
    // `last_error` is the Files object's, which outlives its files.
    Win32FileHandle(HANDLE handle, std::uint32_t& last_error) : handle_(handle), last_error_(last_error) {}

    std::optional<std::size_t> write(const void* data, std::size_t size) override {
        DWORD written = 0;
        const DWORD ask = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        if (!WriteFile(handle_.get(), data, ask, &written, nullptr)) return noted(std::nullopt, last_error_);
        return written;
    }
    std::optional<std::size_t> read(void* buffer, std::size_t size) override {
        DWORD got = 0;
        const DWORD ask = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        if (!ReadFile(handle_.get(), buffer, ask, &got, nullptr)) return noted(std::nullopt, last_error_);
        return got;
    }
    bool flush() override { return FlushFileBuffers(handle_.get()) != 0 || noted(false, last_error_); }

private:
    OwnedFile handle_;
    std::uint32_t& last_error_;
};

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::unique_ptr<FileHandle> open(const std::string& path, DWORD access, DWORD disposition,
                                 std::uint32_t& last_error) {
    const auto wide = to_wide(path);
    if (!wide) return nullptr;
    OwnedFile h(CreateFileW(wide->c_str(), access, share_all, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return noted(nullptr, last_error);
    return std::make_unique<Win32FileHandle>(h.release(), last_error);
}

}  // namespace

std::unique_ptr<FileHandle> Win32Files::open_append(const std::string& path) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
    // whatever other writers do to the file meanwhile.
    return open(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, last_error_);
}

std::unique_ptr<FileHandle> Win32Files::create_truncate(const std::string& path) {
    return open(path, GENERIC_WRITE, CREATE_ALWAYS, last_error_);
}

OpenForRead Win32Files::open_read(const std::string& path, std::unique_ptr<FileHandle>& file) {
    file.reset();
    const auto wide = to_wide(path);
    if (!wide) return OpenForRead::failed;
    OwnedFile h(CreateFileW(wide->c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!h) {
        last_error_ = GetLastError();
        switch (last_error_) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return OpenForRead::not_found;
        default:
            return OpenForRead::failed;
        }
    }
    file = std::make_unique<Win32FileHandle>(h.release(), last_error_);
    return OpenForRead::opened;
}

std::optional<std::uint64_t> Win32Files::size(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data)) return noted(std::nullopt, last_error_);
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32Files::replace_file(const std::string& from, const std::string& to) {
    const auto wide_from = to_wide(from);
    const auto wide_to = to_wide(to);
    if (!wide_from || !wide_to) return false;
    return MoveFileExW(wide_from->c_str(), wide_to->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           noted(false, last_error_);
}

bool Win32Files::move(const std::string& from, const std::string& to) {
    const auto wide_from = to_wide(from);
    const auto wide_to = to_wide(to);
    if (!wide_from || !wide_to) return false;
    return MoveFileExW(wide_from->c_str(), wide_to->c_str(), 0) != 0 || noted(false, last_error_);
}

std::optional<std::vector<std::string>> Win32Files::list(const std::string& folder) {
    const auto pattern = to_wide(folder + "\\*");
    if (!pattern) return std::nullopt;
    WIN32_FIND_DATAW found{};
    const OwnedFind search(FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) return noted(std::nullopt, last_error_);
    std::vector<std::string> names;
    do {
        const std::wstring name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        // A name that does not convert cannot be acted on by path: the
        // listing as a whole fails rather than skip it.
        auto utf8 = to_utf8(name.data(), name.size());
        if (!utf8) return std::nullopt;
        names.push_back(std::move(*utf8));
    } while (FindNextFileW(search.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) return noted(std::nullopt, last_error_);
    return names;
}

bool Win32Files::remove(const std::string& path) {
    const auto wide = to_wide(path);
    return wide && (DeleteFileW(wide->c_str()) != 0 || noted(false, last_error_));
}

std::uint32_t Win32Files::attributes(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return invalid_file_attributes;
    return GetFileAttributesW(wide->c_str());
}

std::unique_ptr<FileHandle> Win32Files::open_exclusive(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return nullptr;
    // A new file gets its own protected DACL: where the folder lets users
    // read, an inherited read grant would let any user open the file without
    // sharing while no pass runs and so keep every pass out.
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                              descriptor.put(), nullptr))
        return noted(nullptr, last_error_);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    // Data access on both sides is what makes share mode 0 exclude: a second
    // open asking for read or write meets a sharing violation.
    OwnedFile h(CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return noted(nullptr, last_error_);
    return std::make_unique<Win32FileHandle>(h.release(), last_error_);
}

}  // namespace tamsel::win32
