// The page's accessible object on a real window of this process, read as a client reads it.
#include "ui/page_accessible.h"

#include <gtest/gtest.h>

#include <functional>

namespace tavro::ui {
namespace {

constexpr int kRetryId = 100;

VARIANT Child(long id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// A top-level window that answers WM_GETOBJECT with the page's object, disconnects it when
// destroyed, and counts the Retry commands it receives.
struct PageWindow {
    PageState page;
    PageAccessibility accessibility;
    HWND window = nullptr;
    LPARAM retryCommand = 0;  // the lParam of the last Retry command

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<PageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && message == WM_GETOBJECT) {
            return self->accessibility.Answer(window, {kRetryId, kRetryId + 1}, self->page, wParam, lParam);
        }
        if (self != nullptr && message == WM_COMMAND && LOWORD(wParam) == kRetryId) self->retryCommand = lParam;
        if (self != nullptr && message == WM_DESTROY) self->accessibility.Disconnect();
        return DefWindowProcW(window, message, wParam, lParam);
    }

    PageWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.lpszClassName = L"PageAccessibleTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"PageAccessibleTest", L"Page", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                 nullptr, nullptr, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        page.status = L"Unable to continue.";
        page.failureShown = true;
    }
    ~PageWindow() {
        if (IsWindow(window)) DestroyWindow(window);
    }

    IAccessible* Object() {
        IAccessible* object = nullptr;
        EXPECT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object)),
                  S_OK);
        return object;
    }
};

class PageAccessibleTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(PageAccessibleTest, RetryMadeAfterTheFirstRequestIsFoundPressedAndTheDefault) {
    PageWindow page;
    IAccessible* object = page.Object();  // as a hook in this process can ask during creation
    ASSERT_NE(object, nullptr);
    const HWND retry = CreateWindowExW(0, L"BUTTON", L"Retry", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 80, 30,
                                       page.window, reinterpret_cast<HMENU>(kRetryId), nullptr, nullptr);
    long count = 0;
    EXPECT_EQ(object->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 2);  // the failure text and Retry
    VARIANT state{};
    EXPECT_EQ(object->get_accState(Child(2), &state), S_OK);
    EXPECT_EQ(state.lVal & (STATE_SYSTEM_DEFAULT | STATE_SYSTEM_FOCUSABLE), STATE_SYSTEM_DEFAULT | STATE_SYSTEM_FOCUSABLE);
    ShowWindow(retry, SW_HIDE);  // a command, not a click: it does not depend on the button
    page.page.failureShown = false;
    EXPECT_EQ(object->accDoDefaultAction(Child(2)), DISP_E_MEMBERNOTFOUND);  // Retry is not a part now
    page.page.failureShown = true;
    ShowWindow(retry, SW_SHOW);
    EXPECT_EQ(object->accDoDefaultAction(Child(2)), S_OK);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    EXPECT_EQ(page.retryCommand, reinterpret_cast<LPARAM>(retry));
    object->Release();
}

TEST_F(PageAccessibleTest, EveryCallAnswersTheDisconnectedErrorOnceTheWindowIsGone) {
    PageWindow page;
    IAccessible* object = page.Object();
    ASSERT_NE(object, nullptr);
    DestroyWindow(page.window);
    EXPECT_EQ(page.accessibility.Answer(page.window, {kRetryId, kRetryId + 1}, page.page, 0, OBJID_CLIENT), 0);  // no new object
    const VARIANT self = Child(CHILDID_SELF), status = Child(1), text{};
    BSTR bstr = nullptr;
    long number = 0;
    VARIANT out{};
    IDispatch* dispatch = nullptr;
    const std::function<HRESULT()> calls[] = {
        [&] { return object->get_accParent(&dispatch); },
        [&] { return object->get_accChildCount(&number); },
        [&] { return object->get_accChild(status, &dispatch); },
        [&] { return object->get_accName(self, &bstr); },
        [&] { return object->get_accValue(status, &bstr); },
        [&] { return object->get_accDescription(self, &bstr); },
        [&] { return object->get_accHelp(status, &bstr); },
        [&] { return object->get_accHelpTopic(&bstr, self, &number); },
        [&] { return object->get_accKeyboardShortcut(self, &bstr); },
        [&] { return object->get_accRole(self, &out); },
        [&] { return object->get_accState(self, &out); },
        [&] { return object->get_accFocus(&out); },
        [&] { return object->get_accSelection(&out); },
        [&] { return object->get_accDefaultAction(status, &bstr); },
        [&] { return object->accSelect(SELFLAG_TAKEFOCUS, self); },
        [&] { return object->accLocation(&number, &number, &number, &number, self); },
        [&] { return object->accNavigate(NAVDIR_FIRSTCHILD, self, &out); },
        [&] { return object->accHitTest(0, 0, &out); },
        [&] { return object->accDoDefaultAction(status); },
        [&] { return object->put_accName(text, nullptr); },
        [&] { return object->put_accValue(status, nullptr); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), kAccessibleGone) << "call " << i;
    object->Release();
}

}  // namespace
}  // namespace tavro::ui
