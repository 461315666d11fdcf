// The administrators' policy values through the real registry: written here
// as Group Policy would, read back through the product's reading.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/implementations.h"
#include "update/policies.h"

namespace tamsel {
namespace {

constexpr const wchar_t* policy_key = L"SOFTWARE\\Policies\\Tam_Sel\\Update";

class PolicyRegistry : public ::testing::Test {
protected:
    void SetUp() override { remove_key(); }
    void TearDown() override { remove_key(); }
    static void remove_key() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, policy_key, KEY_WOW64_64KEY, 0); }
    static void set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, policy_key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void set_number(const wchar_t* name, DWORD value) { set(name, REG_DWORD, &value, sizeof value); }
    static void set_text(const wchar_t* name, const std::wstring& value) {
        set(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    win32::Win32Registry system;
};

TEST_F(PolicyRegistry, NoKeyIsNoPolicy) {
    EXPECT_EQ(system.policy_value("UpdatesDisabled"), std::nullopt);
    EXPECT_EQ(read_policies(system), Policies{});
}

TEST_F(PolicyRegistry, ValuesOfTheRightTypeAreRead) {
    set_number(L"UpdatesDisabled", 1);
    set_number(L"DeferWhileRunning", 1);
    set_text(L"MaxVersion", L"2.3");
    set_text(L"Proxy", L"proxy.example:8080");
    const Policies policies = read_policies(system);
    EXPECT_TRUE(policies.updates_disabled);
    EXPECT_TRUE(policies.defer_while_running);
    EXPECT_EQ(policies.max_version, "2.3");
    EXPECT_EQ(policies.proxy, "proxy.example:8080");
}

// Each value comes with the type it is stored as, so that the report can say
// why it is ignored.
TEST_F(PolicyRegistry, ValuesOfTheWrongTypeAreNotSet) {
    set_text(L"UpdatesDisabled", L"1");
    set_number(L"MaxVersion", 2);
    const std::uint64_t wide = 1;
    set(L"DeferWhileRunning", REG_QWORD, &wide, sizeof wide);
    set(L"Proxy", REG_EXPAND_SZ, L"%P%:1", 12);
    EXPECT_EQ(system.policy_value("UpdatesDisabled"), (PolicyValue{REG_SZ, 0, "1"}));
    EXPECT_EQ(system.policy_value("MaxVersion"), (PolicyValue{REG_DWORD, 2}));
    EXPECT_EQ(system.policy_value("DeferWhileRunning"), (PolicyValue{REG_QWORD}));
    EXPECT_EQ(system.policy_value("Proxy"), (PolicyValue{REG_EXPAND_SZ}));
    const Policies policies = read_policies(system);
    EXPECT_EQ(policies.found.size(), 4u);
    EXPECT_FALSE(policies.updates_disabled || policies.max_version || policies.defer_while_running ||
                 !policies.proxy.empty());
}

TEST_F(PolicyRegistry, TextsConvertFromUtf16AndLongOnesAreRefused) {
    set_text(L"MaxVersion", L"2.3 \u00e9");
    EXPECT_EQ(system.policy_value("MaxVersion")->text, "2.3 \xc3\xa9");
    set_text(L"MaxVersion", L"");
    EXPECT_EQ(system.policy_value("MaxVersion")->text, "");
    set_text(L"Proxy", std::wstring(3000, L'a'));
    EXPECT_EQ(system.policy_value("Proxy"), (PolicyValue{REG_SZ}));
}

}  // namespace
}  // namespace tamsel
