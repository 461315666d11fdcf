// The registry values the updater reads: the machine's identity and the
// administrators' policies. Both are read in the 64-bit view whatever the
// build, since administrators' tools write there.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tamsel {

// A registry value as found: its type (REG_DWORD 4, REG_SZ 1, ...) and, for
// those two types, what it holds.
struct PolicyValue {
    std::uint32_t type = 0;
    std::uint32_t number = 0;         // a REG_DWORD
    std::optional<std::string> text;  // a REG_SZ as UTF-8; nothing when it does not convert or is over 4096 bytes
    friend bool operator==(const PolicyValue&, const PolicyValue&) = default;
};

class Registry {
public:
    virtual ~Registry() = default;
    // The machine's identity for staged rollouts: the REG_SZ value
    // MachineGuid under HKLM\SOFTWARE\Microsoft\Cryptography (RegGetValueW);
    // nothing when it cannot be read.
    virtual std::optional<std::string> machine_guid() = 0;
    // A value of the administrators' policy key
    // HKLM\SOFTWARE\Policies\Tam_Sel\Update (RegGetValueW), as it is
    // stored; nothing when the key or the value is absent.
    virtual std::optional<PolicyValue> policy_value(const std::string& name) = 0;
};

}  // namespace tamsel
