// Named mutexes: the run's own, the private one that only the system account
// can take, and the setup program's, watched from outside.
#pragma once
#include <memory>
#include <string>

namespace tamsel {

// A kernel object this process keeps while the holder lives.
class HeldObject {
public:
    virtual ~HeldObject() = default;
};

enum class PrivateMutex {
    taken,        // created and owned by this process while the holder lives
    busy,         // another process holds it
    unavailable,  // the system offers no such namespace (Wine), or a step failed
};

enum class MutexCreation {
    created,         // a new mutex, owned by this process until it ends
    already_exists,  // ERROR_ALREADY_EXISTS: another process holds the name
    failed,
};

class Mutexes {
public:
    virtual ~Mutexes() = default;
    // CreateMutexW with initial ownership. A created mutex is kept, handle and
    // all, until the process ends.
    virtual MutexCreation create_owned_mutex(const std::string& name) = 0;
    // A mutex created with initial ownership in a private namespace whose
    // boundary holds the system account's SID and the system integrity level,
    // so that no other account can create the namespace first
    // (CreateBoundaryDescriptorW, AddSIDToBoundaryDescriptor,
    // CreatePrivateNamespaceW or OpenPrivateNamespaceW, CreateMutexW).
    // `held` keeps mutex and namespace while it lives when `taken`.
    virtual PrivateMutex take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                            std::unique_ptr<HeldObject>& held) = 0;
    // OpenMutexW(SYNCHRONIZE): whether a mutex of that name exists now.
    virtual bool mutex_exists(const std::string& name) = 0;
};

}  // namespace tamsel
