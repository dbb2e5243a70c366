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

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"

using Microsoft::WRL::ComPtr;

namespace {

std::wstring Take(BSTR text) {
    std::wstring value = text != nullptr ? text : L"";
    SysFreeString(text);
    return value;
}

// One item of the page as either interface reports it: UI Automation's control type, or the
// MSAA role mapped to the control type that Windows documents for it (0: no mapping).
struct Item {
    CONTROLTYPEID type;
    std::wstring name, value;
    ComPtr<IUIAutomationElement> element;
};

CONTROLTYPEID TypeOfRole(long role) {
    return role == ROLE_SYSTEM_STATICTEXT    ? UIA_TextControlTypeId
           : role == ROLE_SYSTEM_PROGRESSBAR ? UIA_ProgressBarControlTypeId
                                             : 0;
}

bool IsBar(const Item& item) { return item.type == UIA_ProgressBarControlTypeId; }

class UiaBridge : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        using WineVersion = const char*(CDECL*)();
        const auto wine = reinterpret_cast<WineVersion>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
        std::printf("running on %s\n", wine != nullptr ? (std::string("Wine ") + wine()).c_str() : "Windows");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" TAVRO_INSTALLER_PATH L"\" --ui-preview";
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &preview_)) {
            return;
        }
        for (int i = 0; i < 300 && window_ == nullptr; ++i, Sleep(100)) {
            const HWND found = FindWindowW(L"TavroInstallerWindow", nullptr);
            DWORD owner = 0;
            if (found != nullptr && GetWindowThreadProcessId(found, &owner) && owner == preview_.dwProcessId) {
                window_ = found;
            }
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
        const HRESULT created =
            CoCreateInstance(CLSID_CUIAutomation, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&automation_));
        if (FAILED(created)) {
            GTEST_SKIP() << "no UI Automation client here: CoCreateInstance gives 0x" << std::hex << created;
        }
        ASSERT_HRESULT_SUCCEEDED(automation_->ElementFromHandle(window_, &root_));
    }
    void TearDown() override {
        root_.Reset();
        automation_.Reset();
        CoUninitialize();
    }

    static std::vector<Item> MsaaItems() {
        std::vector<Item> items;
        ComPtr<IAccessible> client;
        long count = 0;
        if (FAILED(AccessibleObjectFromWindow(window_, OBJID_CLIENT, IID_PPV_ARGS(&client))) ||
            FAILED(client->get_accChildCount(&count))) {
            return items;
        }
        for (long id = 1; id <= count; ++id) {
            VARIANT child{}, role{};
            child.vt = VT_I4;
            child.lVal = id;
            BSTR name = nullptr, value = nullptr;
            client->get_accRole(child, &role);
            client->get_accName(child, &name);
            client->get_accValue(child, &value);
            items.push_back({role.vt == VT_I4 ? TypeOfRole(role.lVal) : 0, Take(name), Take(value), nullptr});
        }
        return items;
    }

    std::vector<Item> UiaItems() {
        std::vector<Item> items;
        ComPtr<IUIAutomationCondition> all;
        ComPtr<IUIAutomationElementArray> found;
        int length = 0;
        if (FAILED(automation_->CreateTrueCondition(&all)) ||
            FAILED(root_->FindAll(TreeScope_Children, all.Get(), &found)) || found == nullptr ||
            FAILED(found->get_Length(&length))) {
            return items;
        }
        for (int i = 0; i < length; ++i) {
            Item item{};
            BSTR name = nullptr;
            if (SUCCEEDED(found->GetElement(i, &item.element)) &&
                SUCCEEDED(item.element->get_CurrentControlType(&item.type)) &&
                SUCCEEDED(item.element->get_CurrentName(&name))) {
                item.name = Take(name);
                items.push_back(item);
            }
        }
        return items;
    }

    static inline PROCESS_INFORMATION preview_{};
    static inline HWND window_ = nullptr;
    ComPtr<IUIAutomation> automation_;
    ComPtr<IUIAutomationElement> root_;
};

TEST_F(UiaBridge, EachItemKeepsItsNameAndRole) {
    BSTR title = nullptr;
    ASSERT_HRESULT_SUCCEEDED(root_->get_CurrentName(&title));
    EXPECT_EQ(Take(title), L"Tavro Installer");
    const std::vector<Item> msaa = MsaaItems(), uia = UiaItems();
    ASSERT_EQ(msaa.size(), 2u) << "the preview shows the status line and the bar";
    for (const Item& item : msaa) {
        ASSERT_NE(item.type, 0) << tavro::WideToUtf8(item.name) << ": a role with no control type";
        const auto same = [&](const Item& u) { return u.type == item.type && u.name == item.name; };
        EXPECT_TRUE(std::any_of(uia.begin(), uia.end(), same))
            << "no UI Automation child of control type " << item.type << " named '"
            << tavro::WideToUtf8(item.name) << "'";
    }
}

TEST_F(UiaBridge, TheBarCarriesItsValue) {
    const std::vector<Item> msaa = MsaaItems(), uia = UiaItems();
    const auto bar = std::find_if(msaa.begin(), msaa.end(), IsBar);
    ASSERT_NE(bar, msaa.end());
    ASSERT_EQ(bar->value, L"48%");
    const auto element = std::find_if(uia.begin(), uia.end(), IsBar);
    ASSERT_NE(element, uia.end()) << "no progress bar among the window's UI Automation children";
    ComPtr<IUIAutomationLegacyIAccessiblePattern> legacy;
    const HRESULT got = element->element->GetCurrentPatternAs(UIA_LegacyIAccessiblePatternId, IID_PPV_ARGS(&legacy));
    if (got == E_NOTIMPL) GTEST_SKIP() << "this UI Automation has no LegacyIAccessible pattern (E_NOTIMPL)";
    ASSERT_HRESULT_SUCCEEDED(got);
    ASSERT_NE(legacy, nullptr);
    BSTR value = nullptr;
    ASSERT_HRESULT_SUCCEEDED(legacy->get_CurrentValue(&value));
    EXPECT_EQ(Take(value), bar->value);
}

}  // namespace
