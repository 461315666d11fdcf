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
    using Kind = PolicyValue::Kind;
    Kind kind(const std::string& name) { return system.policy_value(name).kind; }
    std::optional<std::string> text(const std::string& name) {
        const PolicyValue value = system.policy_value(name);
        if (value.kind != Kind::text) return std::nullopt;
        return value.text;
    }
};

TEST_F(PolicyRegistry, NoKeyIsNoPolicy) {
    EXPECT_EQ(kind("UpdatesDisabled"), Kind::absent);
    EXPECT_EQ(kind("Proxy"), Kind::absent);
    EXPECT_EQ(read_policies(system), Policies{});
}

TEST_F(PolicyRegistry, ValuesOfTheRightTypeAreRead) {
    set_number(L"UpdatesDisabled", 1);
    set_number(L"DeferWhileRunning", 1);
    set_text(L"MaxVersion", L"2.3");
    set_text(L"Proxy", L"proxy.example:8080");
    Policies expected;
    expected.updates_disabled = true;
    expected.defer_while_running = true;
    expected.max_version = "2.3";
    expected.proxy = "proxy.example:8080";
    EXPECT_EQ(read_policies(system), expected);
}

TEST_F(PolicyRegistry, ValuesOfTheWrongTypeAreNotSet) {
    set_text(L"UpdatesDisabled", L"1");
    set_number(L"MaxVersion", 2);
    const std::uint64_t wide = 1;
    set(L"DeferWhileRunning", REG_QWORD, &wide, sizeof wide);
    set(L"Proxy", REG_BINARY, "p:1", 3);
    // The reading tells the wrong type from absence; the policies ignore both.
    EXPECT_EQ(kind("UpdatesDisabled"), Kind::text);
    EXPECT_EQ(kind("MaxVersion"), Kind::number);
    EXPECT_EQ(kind("DeferWhileRunning"), Kind::other_type);
    EXPECT_EQ(kind("Proxy"), Kind::other_type);
    EXPECT_EQ(read_policies(system), Policies{});
}

TEST_F(PolicyRegistry, TextsConvertFromUtf16AndLongOnesAreRefused) {
    set_text(L"MaxVersion", L"2.3 \u00e9");
    EXPECT_EQ(text("MaxVersion"), "2.3 \xc3\xa9");
    set_text(L"MaxVersion", L"");
    EXPECT_EQ(text("MaxVersion"), "");
    set_text(L"Proxy", std::wstring(3000, L'a'));
    EXPECT_EQ(kind("Proxy"), Kind::unreadable);
}

}  // namespace
}  // namespace tamsel
