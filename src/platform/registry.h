// The registry values the updater reads: the machine's identity and the
// administrators' policies. Both are read in the 64-bit view whatever the
// build, since administrators' tools write there.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tamsel {

// A policy value as the registry holds it: its type tells a value of the
// wrong type (a REG_SZ where a REG_DWORD was expected) from an absent one.
struct PolicyValue {
    enum class Kind {
        absent,      // no key, or no value of that name
        number,      // REG_DWORD
        text,        // REG_SZ, converted to UTF-8
        other_type,  // any other type
        unreadable,  // a text beyond 4096 bytes, one that does not convert, or a read that failed
    };
    Kind kind = Kind::absent;
    std::uint32_t number = 0;
    std::string text;
};

class Registry {
public:
    virtual ~Registry() = default;
    // The machine's identity for staged rollouts: the REG_SZ value
    // MachineGuid under HKLM\SOFTWARE\Microsoft\Cryptography (RegGetValueW);
    // nothing when it cannot be read.
    virtual std::optional<std::string> machine_guid() = 0;
    // A value of the administrators' policy key
    // HKLM\SOFTWARE\Policies\Tam_Sel\Update (RegGetValueW).
    virtual PolicyValue policy_value(const std::string& name) = 0;
};

}  // namespace tamsel
