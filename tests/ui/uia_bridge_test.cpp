// The preview page read through UI Automation from another process: Windows' bridge from
// MSAA must carry what the page's IAccessible says (names, roles as control types, the
// bar's value), as a screen reader that speaks UI Automation reads it. Needs an X display
// under Wine. A UI Automation without a client, or without the LegacyIAccessible pattern,
// is reported as skipped with what it answered.
#include <windows.h>
#include <oleacc.h>
#include <uiautomationclient.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring Take(BSTR text) {
    std::wstring value = text != nullptr ? text : L"";
    SysFreeString(text);
    return value;
}

struct Item {
    long role;
    std::wstring name, value;
};

class UiaBridgeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        using WineVersion = const char*(CDECL*)();
        const auto wine = reinterpret_cast<WineVersion>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
        std::printf("running on %s\n", wine != nullptr ? (std::string("Wine ") + wine()).c_str() : "Windows");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" TAVRO_INSTALLER_PATH L"\" --ui-preview";
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &preview_)) return;
        for (int i = 0; i < 300 && window_ == nullptr; ++i, Sleep(100)) {
            const HWND found = FindWindowW(L"TavroInstallerWindow", nullptr);
            DWORD owner = 0;
            if (found != nullptr && GetWindowThreadProcessId(found, &owner) && owner == preview_.dwProcessId) window_ = found;
        }
    }
    static void TearDownTestSuite() {
        if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
        if (preview_.hProcess == nullptr) return;
        if (WaitForSingleObject(preview_.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(preview_.hProcess, 1);
        CloseHandle(preview_.hProcess);
        CloseHandle(preview_.hThread);
    }

    void SetUp() override {
        ASSERT_NE(window_, nullptr) << "the preview window did not open";
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const HRESULT created = CoCreateInstance(CLSID_CUIAutomation, nullptr, CLSCTX_INPROC_SERVER, IID_IUIAutomation,
                                                 reinterpret_cast<void**>(automation_.GetAddressOf()));
        if (FAILED(created)) GTEST_SKIP() << "no UI Automation client here: CoCreateInstance gives 0x" << std::hex << created;
        ASSERT_HRESULT_SUCCEEDED(automation_->ElementFromHandle(window_, &root_));
    }
    void TearDown() override {
        root_.Reset();
        automation_.Reset();
        CoUninitialize();
    }

    // What MSAA reports for the page's simple items (Retry, a window of its own, aside).
    static std::vector<Item> MsaaItems() {
        std::vector<Item> items;
        ComPtr<IAccessible> client;
        if (FAILED(AccessibleObjectFromWindow(window_, OBJID_CLIENT, IID_IAccessible,
                                              reinterpret_cast<void**>(client.GetAddressOf())))) {
            return items;
        }
        long count = 0;
        client->get_accChildCount(&count);
        for (long id = 1; id <= count; ++id) {
            VARIANT child{};
            child.vt = VT_I4;
            child.lVal = id;
            VARIANT role{};
            BSTR name = nullptr, value = nullptr;
            client->get_accRole(child, &role);
            client->get_accName(child, &name);
            client->get_accValue(child, &value);
            items.push_back({role.vt == VT_I4 ? role.lVal : 0, Take(name), Take(value)});
        }
        return items;
    }

    // The UI Automation children of the window as (control type, element).
    std::vector<std::pair<CONTROLTYPEID, ComPtr<IUIAutomationElement>>> UiaChildren() {
        std::vector<std::pair<CONTROLTYPEID, ComPtr<IUIAutomationElement>>> children;
        ComPtr<IUIAutomationCondition> all;
        ComPtr<IUIAutomationElementArray> found;
        int length = 0;
        if (FAILED(automation_->CreateTrueCondition(&all)) || FAILED(root_->FindAll(TreeScope_Children, all.Get(), &found)) ||
            found == nullptr || FAILED(found->get_Length(&length))) {
            return children;
        }
        for (int i = 0; i < length; ++i) {
            ComPtr<IUIAutomationElement> element;
            CONTROLTYPEID type = 0;
            if (SUCCEEDED(found->GetElement(i, &element)) && SUCCEEDED(element->get_CurrentControlType(&type))) {
                children.emplace_back(type, element);
            }
        }
        return children;
    }

    static inline PROCESS_INFORMATION preview_{};
    static inline HWND window_ = nullptr;
    ComPtr<IUIAutomation> automation_;
    ComPtr<IUIAutomationElement> root_;
};

// The MSAA-to-UIA role mapping that Windows documents for these two roles.
constexpr std::pair<long, CONTROLTYPEID> kRoleTypes[] = {{ROLE_SYSTEM_STATICTEXT, UIA_TextControlTypeId},
                                                         {ROLE_SYSTEM_PROGRESSBAR, UIA_ProgressBarControlTypeId}};

CONTROLTYPEID TypeOf(long role) {
    for (const auto& [msaa, uia] : kRoleTypes) {
        if (msaa == role) return uia;
    }
    return 0;
}

TEST_F(UiaBridgeTest, EachItemKeepsItsNameAndRole) {
    BSTR title = nullptr;
    ASSERT_HRESULT_SUCCEEDED(root_->get_CurrentName(&title));
    EXPECT_EQ(Take(title), L"Tavro Installer");
    const std::vector<Item> items = MsaaItems();
    ASSERT_EQ(items.size(), 2u) << "the preview shows the status line and the bar";
    auto children = UiaChildren();
    for (const Item& item : items) {
        ASSERT_NE(TypeOf(item.role), 0) << "role " << item.role;
        bool seen = false;
        for (auto& [type, element] : children) {
            BSTR name = nullptr;
            if (type == TypeOf(item.role) && SUCCEEDED(element->get_CurrentName(&name))) seen |= Take(name) == item.name;
        }
        EXPECT_TRUE(seen) << "no UI Automation child of control type " << TypeOf(item.role) << " named '"
                          << tavro::WideToUtf8(item.name) << "'";
    }
}

TEST_F(UiaBridgeTest, TheBarCarriesItsValue) {
    std::wstring expected;
    for (const Item& item : MsaaItems()) {
        if (item.role == ROLE_SYSTEM_PROGRESSBAR) expected = item.value;
    }
    ASSERT_EQ(expected, L"48%");
    for (auto& [type, element] : UiaChildren()) {
        if (type != UIA_ProgressBarControlTypeId) continue;
        ComPtr<IUIAutomationLegacyIAccessiblePattern> legacy;
        const HRESULT got = element->GetCurrentPatternAs(UIA_LegacyIAccessiblePatternId, IID_PPV_ARGS(&legacy));
        if (got == E_NOTIMPL) GTEST_SKIP() << "this UI Automation has no LegacyIAccessible pattern (E_NOTIMPL)";
        ASSERT_HRESULT_SUCCEEDED(got);
        ASSERT_NE(legacy, nullptr);
        BSTR value = nullptr;
        ASSERT_HRESULT_SUCCEEDED(legacy->get_CurrentValue(&value));
        EXPECT_EQ(Take(value), expected);
        return;
    }
    ADD_FAILURE() << "no progress bar among the window's UI Automation children";
}

}  // namespace
