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
    explicit Win32FileHandle(HANDLE handle) : handle_(handle) {}

    Result<std::size_t> write(const void* data, std::size_t size) override {
        DWORD written = 0;
        const DWORD ask = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        if (!WriteFile(handle_.get(), data, ask, &written, nullptr)) return last_failure();
        return std::size_t{written};
    }
    Result<std::size_t> read(void* buffer, std::size_t size) override {
        DWORD got = 0;
        const DWORD ask = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
        if (!ReadFile(handle_.get(), buffer, ask, &got, nullptr)) return last_failure();
        return std::size_t{got};
    }
    Result<void> flush() override {
        if (!FlushFileBuffers(handle_.get())) return last_failure();
        return {};
    }

private:
    OwnedFile handle_;
};

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileResult open(const std::string& path, DWORD access, DWORD disposition) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    OwnedFile h(CreateFileW(wide->c_str(), access, share_all, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return last_failure();
    return std::make_unique<Win32FileHandle>(h.release());
}

}  // namespace

FileResult Win32Files::open_append(const std::string& path) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end,
    // whatever other writers do to the file meanwhile.
    return open(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
}

FileResult Win32Files::create_truncate(const std::string& path) { return open(path, GENERIC_WRITE, CREATE_ALWAYS); }

FileResult Win32Files::open_read(const std::string& path) {
    auto opened = open(path, GENERIC_READ, OPEN_EXISTING);
    switch (opened.cause()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return std::unique_ptr<FileHandle>();
    default: return opened;
    }
}

Result<std::uint64_t> Win32Files::size(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &data)) return last_failure();
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Result<void> Win32Files::replace_file(const std::string& from, const std::string& to) {
    const auto wide_from = to_wide(from);
    const auto wide_to = to_wide(to);
    if (!wide_from || !wide_to) return Failure{};
    if (!MoveFileExW(wide_from->c_str(), wide_to->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return last_failure();
    return {};
}

Result<void> Win32Files::move(const std::string& from, const std::string& to) {
    const auto wide_from = to_wide(from);
    const auto wide_to = to_wide(to);
    if (!wide_from || !wide_to) return Failure{};
    if (!MoveFileExW(wide_from->c_str(), wide_to->c_str(), 0)) return last_failure();
    return {};
}

Result<std::vector<std::string>> Win32Files::list(const std::string& folder) {
    const auto pattern = to_wide(folder + "\\*");
    if (!pattern) return Failure{};
    WIN32_FIND_DATAW found{};
    const OwnedFind search(
            FindFirstFileExW(pattern->c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) return last_failure();
    std::vector<std::string> names;
    do {
        const std::wstring name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        // A name that does not convert cannot be acted on by path: the
        // listing as a whole fails rather than skip it.
        auto utf8 = to_utf8(name.data(), name.size());
        if (!utf8) return Failure{};
        names.push_back(std::move(*utf8));
    } while (FindNextFileW(search.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) return last_failure();
    return names;
}

Result<void> Win32Files::remove(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    if (!DeleteFileW(wide->c_str())) return last_failure();
    return {};
}

std::uint32_t Win32Files::attributes(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return invalid_file_attributes;
    return GetFileAttributesW(wide->c_str());
}

FileResult Win32Files::open_exclusive(const std::string& path) {
    const auto wide = to_wide(path);
    if (!wide) return Failure{};
    // A new file gets its own protected DACL: where the folder lets users
    // read, an inherited read grant would let any user open the file without
    // sharing while no pass runs and so keep every pass out.
    LocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1,
                                                              descriptor.put(), nullptr))
        return last_failure();
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    // Data access on both sides is what makes share mode 0 exclude: a second
    // open asking for read or write meets a sharing violation.
    OwnedFile h(CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return last_failure();
    return std::make_unique<Win32FileHandle>(h.release());
}

}  // namespace tamsel::win32
