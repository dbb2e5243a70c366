#include "ui/page_accessible.h"

#include <oleacc.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/system_functions.h"
#include "ui/page_layout.h"

namespace tavro::ui {

using Microsoft::WRL::ComPtr;

namespace {

long RoleOf(PageItemKind kind) {
    switch (kind) {
    case PageItemKind::Progress:
        return ROLE_SYSTEM_PROGRESSBAR;
    case PageItemKind::Retry:
        return ROLE_SYSTEM_PUSHBUTTON;
    case PageItemKind::Link:
        return ROLE_SYSTEM_LINK;
    case PageItemKind::Status:
    case PageItemKind::Detail:
        break;
    }
    return ROLE_SYSTEM_STATICTEXT;
}

// A text for the caller to free, or S_FALSE with none for an empty one.
HRESULT ReturnText(std::wstring_view text, BSTR* out) {
    *out = nullptr;
    if (text.empty()) return S_FALSE;
    try {
        *out = OleAut().SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// UI Automation's LiveSetting property, which the mingw-w64 headers do not define.
constexpr GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};

// Active Accessibility's annotation service; null where it cannot be made.
ComPtr<IAccPropServices> CreatePropertyServices() {
    ComPtr<IAccPropServices> services;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(services.GetAddressOf())))) {
        services.Reset();
    }
    return services;
}

// What a link's default action is called: the name every browser's links give it.
constexpr std::wstring_view kLinkAction = L"Jump";

// The window's title as the accessible name of its client area.
HRESULT ReturnWindowText(HWND window, BSTR* out) {
    wchar_t text[128] = {};
    return ReturnText({text, static_cast<size_t>(std::max(GetWindowTextW(window, text, 128), 0))}, out);
}

}  // namespace

// Every call reads the window's page model afresh; the parts are simple elements named by
// child id, except Retry, a real button whose own standard object is handed out. Once
// disconnected every call but IUnknown's answers kAccessibleGone.
class PageAccessible final : public IAccessible, public IAccIdentity {
public:
    PageAccessible(HWND window, PageCommands commands, const PageState& page)
        : window_(window), commands_(commands), page_(&page) {}

    void Disconnect() { page_ = nullptr; }

    // IUnknown, for both interfaces
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (id == IID_IUnknown || id == IID_IDispatch || id == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
        } else if (id == IID_IAccIdentity) {
            *out = static_cast<IAccIdentity*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IAccIdentity: the identity of the window's client object, so that what is annotated
    // for (window, OBJID_CLIENT, child) through IAccPropServices (the status line's live
    // setting) is found on this object's parts.
    HRESULT STDMETHODCALLTYPE GetIdentityString(DWORD child, BYTE** identity, DWORD* length) override {
        *identity = nullptr;
        *length = 0;
        if (Gone()) return kAccessibleGone;
        const ComPtr<IAccPropServices> services = CreatePropertyServices();
        if (!services) return E_NOTIMPL;
        return services->ComposeHwndIdentityString(window_, static_cast<DWORD>(OBJID_CLIENT), child, identity, length);
    }

    // IDispatch: screen readers call IAccessible directly; there is no type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return Gone() ? kAccessibleGone : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Gone() ? kAccessibleGone : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return Gone() ? kAccessibleGone : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return Gone() ? kAccessibleGone : E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        *parent = nullptr;
        if (Gone()) return kAccessibleGone;
        IAccessible* standard = Standard();
        return standard != nullptr ? standard->get_accParent(parent) : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        *count = 0;
        std::vector<PageItem> items;
        const HRESULT taken = Snapshot(items);
        *count = static_cast<long>(items.size());
        return taken;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        *object = nullptr;
        PageItem item{};
        if (const HRESULT found = Find(child, item); found != S_OK) return found;
        if (item.kind != PageItemKind::Retry) return S_FALSE;
        *object = RetryObject().Detach();
        return *object != nullptr ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        *name = nullptr;
        if (Gone()) return kAccessibleGone;
        if (IsSelf(child)) return ReturnWindowText(window_, name);
        PageItem item{};
        const HRESULT found = Find(child, item);
        return found == S_OK ? ReturnText(item.name, name) : found;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        *value = nullptr;
        if (Gone()) return kAccessibleGone;
        if (IsSelf(child)) return S_FALSE;
        PageItem item{};
        const HRESULT found = Find(child, item);
        return found == S_OK ? ReturnText(item.value, value) : found;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override { return NoText(child, text); }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override { return NoText(child, text); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        *file = nullptr;
        *topic = 0;
        return Gone() ? kAccessibleGone : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return NoText(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        *role = VARIANT{};
        if (Gone()) return kAccessibleGone;
        long value = ROLE_SYSTEM_CLIENT;
        if (!IsSelf(child)) {
            PageItem item{};
            if (const HRESULT found = Find(child, item); found != S_OK) return found;
            value = RoleOf(item.kind);
        }
        role->vt = VT_I4;
        role->lVal = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        *state = VARIANT{};
        if (Gone()) return kAccessibleGone;
        if (IsSelf(child)) {
            IAccessible* standard = Standard();
            return standard != nullptr ? standard->get_accState(child, state) : E_FAIL;
        }
        PageItem item{};
        if (const HRESULT found = Find(child, item); found != S_OK) return found;
        state->vt = VT_I4;
        // Retry is what Enter presses (DM_GETDEFID names it): the default button.
        const long retry = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT;
        const long link = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED;
        state->lVal = item.kind == PageItemKind::Link    ? (page_->linkFocused ? link | STATE_SYSTEM_FOCUSED : link)
                      : item.kind != PageItemKind::Retry ? STATE_SYSTEM_READONLY
                      : GetFocus() == Button()           ? retry | STATE_SYSTEM_FOCUSED
                                                         : retry;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        *focus = VARIANT{};
        if (Gone()) return kAccessibleGone;
        if (page_->linkFocused) {
            std::vector<PageItem> items;
            if (const HRESULT taken = Snapshot(items); taken != S_OK) return taken;
            if (const long link = ChildIdOf(items, PageItemKind::Link); link != 0) {
                focus->vt = VT_I4;
                focus->lVal = link;
                return S_OK;
            }
        }
        IAccessible* standard = Standard();
        return standard != nullptr ? standard->get_accFocus(focus) : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        *selection = VARIANT{};
        return Gone() ? kAccessibleGone : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        *action = nullptr;
        if (Gone()) return kAccessibleGone;
        PageItem item{};
        if (IsSelf(child) || Find(child, item) != S_OK) return S_FALSE;
        if (item.kind == PageItemKind::Link) return ReturnText(kLinkAction, action);
        if (item.kind != PageItemKind::Retry) return S_FALSE;
        ComPtr<IAccessible> retry;
        if (FAILED(RetryObject().As(&retry))) return S_FALSE;
        return retry->get_accDefaultAction(Self(), action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        if (Gone()) return kAccessibleGone;
        IAccessible* standard = IsSelf(child) ? Standard() : nullptr;
        return standard != nullptr ? standard->accSelect(flags, child) : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* width, long* height, VARIANT child) override {
        *x = *y = *width = *height = 0;
        if (Gone()) return kAccessibleGone;
        if (IsSelf(child)) {
            IAccessible* standard = Standard();
            return standard != nullptr ? standard->accLocation(x, y, width, height, child) : E_FAIL;
        }
        PageItem item{};
        if (const HRESULT found = Find(child, item); found != S_OK) return found;
        const RECT box = ScreenBox(item);
        *x = box.left;
        *y = box.top;
        *width = box.right - box.left;
        *height = box.bottom - box.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        *end = VARIANT{};
        std::vector<PageItem> items;
        if (const HRESULT taken = Snapshot(items); taken != S_OK) return taken;
        const long count = static_cast<long>(items.size());
        long target = 0;
        if (IsSelf(start)) {
            if (direction == NAVDIR_FIRSTCHILD) target = 1;
            else if (direction == NAVDIR_LASTCHILD) target = count;
            else if (IAccessible* standard = Standard()) return standard->accNavigate(direction, start, end);
        } else {
            PageItem item{};
            if (const HRESULT found = Find(start, item); found != S_OK) return found;
            if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN) target = start.lVal + 1;
            else if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP) target = start.lVal - 1;
        }
        if (target < 1 || target > count) return S_FALSE;
        return PutChild(items, target, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
        *hit = VARIANT{};
        std::vector<PageItem> items;
        if (const HRESULT taken = Snapshot(items); taken != S_OK) return taken;
        const POINT point{x, y};
        for (size_t i = 0; i < items.size(); ++i) {
            const RECT box = ScreenBox(items[i]);
            if (PtInRect(&box, point)) return PutChild(items, static_cast<long>(i + 1), hit);
        }
        RECT client{};
        GetClientRect(window_, &client);
        MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&client), 2);
        if (!PtInRect(&client, point)) return S_FALSE;
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (Gone()) return kAccessibleGone;
        PageItem item{};
        if (IsSelf(child) || Find(child, item) != S_OK ||
            (item.kind != PageItemKind::Retry && item.kind != PageItemKind::Link)) {
            return DISP_E_MEMBERNOTFOUND;
        }
        // The command a click sends, posted: it must not run inside a call that a client is
        // waiting on. BM_CLICK "might fail" while the window is not active, as its
        // documentation warns, and a screen reader's own window is the active one.
        const bool retry = item.kind == PageItemKind::Retry;
        PostMessageW(window_, WM_COMMAND, MAKEWPARAM(retry ? commands_.retry : commands_.link, BN_CLICKED),
                     reinterpret_cast<LPARAM>(retry ? Button() : nullptr));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return Gone() ? kAccessibleGone : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return Gone() ? kAccessibleGone : E_NOTIMPL; }

private:
    ~PageAccessible() = default;

    bool Gone() const { return page_ == nullptr; }
    HWND Button() const { return GetDlgItem(window_, commands_.retry); }

    static bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }
    static VARIANT Self() {
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        return self;
    }

    // The page's parts now. Nothing may be thrown back into the caller's COM dispatch.
    HRESULT Snapshot(std::vector<PageItem>& items) const noexcept {
        if (Gone()) return kAccessibleGone;
        try {
            wchar_t retry[128] = {};
            const HWND button = Button();
            if (button != nullptr && IsWindowVisible(button)) GetWindowTextW(button, retry, 128);
            items = PageItems(*page_, retry);
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    // S_OK with the part that `child` names, or the error for a gone window or a bad id.
    HRESULT Find(const VARIANT& child, PageItem& item) const noexcept {
        if (Gone()) return kAccessibleGone;
        if (child.vt != VT_I4) return E_INVALIDARG;
        std::vector<PageItem> items;
        if (const HRESULT taken = Snapshot(items); taken != S_OK) return taken;
        if (child.lVal < 1 || child.lVal > static_cast<long>(items.size())) return E_INVALIDARG;
        item = std::move(items[static_cast<size_t>(child.lVal - 1)]);
        return S_OK;
    }

    HRESULT NoText(const VARIANT& child, BSTR* text) const {
        *text = nullptr;
        if (Gone()) return kAccessibleGone;
        PageItem item{};
        if (IsSelf(child)) return S_FALSE;
        const HRESULT found = Find(child, item);
        return found == S_OK ? S_FALSE : found;
    }

    // Retry as its own object, any other part as its child id.
    HRESULT PutChild(const std::vector<PageItem>& items, long id, VARIANT* out) const {
        if (items[static_cast<size_t>(id - 1)].kind == PageItemKind::Retry) {
            if (ComPtr<IDispatch> retry = RetryObject()) {
                out->vt = VT_DISPATCH;
                out->pdispVal = retry.Detach();
                return S_OK;
            }
        }
        out->vt = VT_I4;
        out->lVal = id;
        return S_OK;
    }

    RECT ScreenBox(const PageItem& item) const {
        RECT box{};
        if (item.kind == PageItemKind::Retry) {
            GetWindowRect(Button(), &box);
            return box;
        }
        const float s = DesignScale(GetDpiForWindow(window_));
        box = {static_cast<LONG>(item.x * s), static_cast<LONG>(item.y * s),
               static_cast<LONG>((item.x + item.width) * s + 0.5f), static_cast<LONG>((item.y + item.height) * s + 0.5f)};
        MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&box), 2);
        return box;
    }

    // The system's object for the client area answers what is the window's, not the page's:
    // its parent, focus, state and place.
    IAccessible* Standard() {
        if (Gone()) return nullptr;
        if (!standard_) {
            try {
                Oleacc().CreateStdAccessibleObject(window_, OBJID_CLIENT, IID_IAccessible,
                                                   reinterpret_cast<void**>(standard_.GetAddressOf()));
            } catch (...) {
                return nullptr;
            }
        }
        return standard_.Get();
    }

    ComPtr<IDispatch> RetryObject() const {
        ComPtr<IDispatch> object;
        try {
            const HWND button = Button();
            if (button == nullptr) return object;
            Oleacc().CreateStdAccessibleObject(button, OBJID_CLIENT, IID_IDispatch,
                                               reinterpret_cast<void**>(object.GetAddressOf()));
        } catch (...) {
            object.Reset();
        }
        return object;
    }

    std::atomic<ULONG> references_{1};
    HWND window_;
    PageCommands commands_;
    const PageState* page_;
    ComPtr<IAccessible> standard_;
};

LRESULT PageAccessibility::Answer(HWND window, PageCommands commands, const PageState& page, WPARAM wParam,
                                  LPARAM lParam) {
    // Compared as 32 bits: the id arrives sign-extended or not, depending on the sender.
    if (disconnected_ || static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT)) return 0;
    try {
        const OleaccFunctions& oleacc = Oleacc();
        if (object_ == nullptr) object_ = new PageAccessible(window, commands, page);
        const LRESULT result = oleacc.LresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible*>(object_));
        return result > 0 ? result : 0;
    } catch (...) {
        return 0;  // without oleacc the system's own object answers
    }
}

void PageAccessibility::Disconnect() {
    disconnected_ = true;
    properties_.Reset();
    if (object_ == nullptr) return;
    object_->Disconnect();
    // Releases what remote clients still hold, so the object goes now, not at their leisure.
    CoDisconnectObject(static_cast<IAccessible*>(object_), 0);
    static_cast<IAccessible*>(object_)->Release();
    object_ = nullptr;
}

void PageAccessibility::Announce(HWND window, PageState& announced, const PageState& now) {
    const PageAnnouncement change = DecideAnnouncement(announced, now);
    announced = now;
    if (change.live != LiveSetting::Off && !disconnected_) {
        // Screen readers speak a live region only once it has a live setting. Where the
        // annotation service is missing or refuses (Wine's is a stub), the event still goes.
        if (!std::exchange(propertiesTried_, true)) properties_ = CreatePropertyServices();
        if (properties_) {
            VARIANT setting{};
            setting.vt = VT_I4;
            setting.lVal = static_cast<LONG>(change.live);
            properties_->SetHwndProp(window, static_cast<DWORD>(OBJID_CLIENT), kStatusChildId, kLiveSettingProperty,
                                     setting);
        }
    }
    if (change.statusName) NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, kStatusChildId);
    if (change.live != LiveSetting::Off) {
        NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, window, OBJID_CLIENT, kStatusChildId);
    }
    if (change.progressValue) NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, kProgressChildId);
    if (change.partsChanged) NotifyWinEvent(EVENT_OBJECT_REORDER, window, OBJID_CLIENT, CHILDID_SELF);
    if (change.failure) NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, kStatusChildId);
}

}  // namespace tavro::ui
