#include <windows.h>
#include <sddl.h>

#include "platform/win32/implementations.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/text.h"

namespace tamsel::win32 {

MutexCreation Win32Mutexes::create_owned_mutex(const std::string& name) {
    const auto wide = to_wide(name);
    if (!wide) return MutexCreation::failed;
    HANDLE h = CreateMutexW(nullptr, TRUE, wide->c_str());
    const DWORD error = GetLastError();
    if (h == nullptr) return MutexCreation::failed;
    if (error == ERROR_ALREADY_EXISTS) {
        const OwnedHandle theirs(h);
        return MutexCreation::already_exists;
    }
    // The handle is kept on purpose: the system frees the mutex when the
    // process ends, so a crashed pass never blocks the next one.
    return MutexCreation::created;
}

namespace {

class HeldPrivateMutex final : public HeldObject {
public:
    HeldPrivateMutex(NamespaceHandle& space, OwnedHandle& mutex) : space_(space.release()), mutex_(mutex.release()) {}

private:
    // Members end in reverse order: the mutex before the namespace it lives in.
    NamespaceHandle space_;
    OwnedHandle mutex_;
};

// The namespace whose boundary only a process of the system account at the
// system integrity level can satisfy; opened when another pass made it first.
HANDLE system_namespace(const std::wstring& name) {
    BoundaryHandle boundary(CreateBoundaryDescriptorW(name.c_str(), 0));
    if (!boundary) return nullptr;  // Wine has no private namespaces
    BYTE system_sid[SECURITY_MAX_SID_SIZE] = {};
    BYTE system_label[SECURITY_MAX_SID_SIZE] = {};
    DWORD sid_size = sizeof system_sid;
    DWORD label_size = sizeof system_label;
    LocalMemory descriptor;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_sid, &sid_size) ||
        !AddSIDToBoundaryDescriptor(boundary.put(), system_sid) ||
        !CreateWellKnownSid(WinSystemLabelSid, nullptr, system_label, &label_size) ||
        !AddIntegrityLabelToBoundaryDescriptor(boundary.put(), system_label) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;SY)", SDDL_REVISION_1, descriptor.put(),
                                                              nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    HANDLE space = CreatePrivateNamespaceW(&attributes, boundary.get(), name.c_str());
    if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        space = OpenPrivateNamespaceW(boundary.get(), name.c_str());
    return space;
}

}  // namespace

PrivateMutex Win32Mutexes::take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                              std::unique_ptr<HeldObject>& held) {
    held.reset();
    const auto wide_space = to_wide(namespace_name);
    const auto wide_mutex = to_wide(namespace_name + "\\" + mutex_name);
    if (!wide_space || !wide_mutex) return PrivateMutex::unavailable;
    NamespaceHandle space(system_namespace(*wide_space));
    if (!space) return PrivateMutex::unavailable;
    OwnedHandle mutex(CreateMutexW(nullptr, TRUE, wide_mutex->c_str()));
    const DWORD error = GetLastError();
    if (!mutex) return PrivateMutex::unavailable;
    if (error == ERROR_ALREADY_EXISTS) return PrivateMutex::busy;
    held = std::make_unique<HeldPrivateMutex>(space, mutex);
    return PrivateMutex::taken;
}

bool Win32Mutexes::mutex_exists(const std::string& name) {
    const auto wide = to_wide(name);
    if (!wide) return false;
    const OwnedHandle h(OpenMutexW(SYNCHRONIZE, FALSE, wide->c_str()));
    return static_cast<bool>(h);
}

}  // namespace tamsel::win32
