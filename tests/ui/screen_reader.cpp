// Reads the installer window as a screen reader does, from another process, through MSAA.
//   screen_reader read            prints the page's accessible tree
//   screen_reader listen SECONDS  prints "ready", records the window's WinEvents until it
//                                 raises an alert (or SECONDS pass), then prints each event
//                                 with the name its object has now, and the tree
// Output, UTF-8 lines: "event <kind> <child> <name>", "client <name>",
// "child <id> role <role> name <name> value <value>" ("role object" for a child object).
// Events are only recorded in the hook and queried afterwards: the hook is entered again
// while a query waits on the window's process.
#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

namespace {

struct Event {
    DWORD kind;
    HWND window;
    LONG object;
    LONG child;
};
std::vector<Event> events;
bool alerted = false;

void Print(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    std::string bytes(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size() - 1), &written, nullptr);
}

bool OfInstaller(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(GetAncestor(window, GA_ROOT), name, 64);
    return std::wstring(name) == L"TavroInstallerWindow";
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD kind, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (window == nullptr || !OfInstaller(window)) return;
    events.push_back({kind, window, object, child});
    alerted = alerted || kind == EVENT_SYSTEM_ALERT;
}

// One of the text properties, read first and then taken over (a call and its out
// parameter as two arguments of one call would be evaluated in no fixed order).
template <class Getter>
std::wstring Text(IAccessible* object, Getter getter, VARIANT child) {
    BSTR text = nullptr;
    const HRESULT hr = (object->*getter)(child, &text);
    std::wstring value = SUCCEEDED(hr) && text != nullptr ? text : L"";
    SysFreeString(text);
    return value;
}

std::wstring Name(IAccessible* object, VARIANT child) {
    return Text(object, &IAccessible::get_accName, child);
}

VARIANT Child(LONG id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

void PrintTree(HWND window) {
    IAccessible* client = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&client)))) {
        Print(L"error no client object");
        return;
    }
    long count = 0;
    client->get_accChildCount(&count);
    Print(L"client " + Name(client, Child(CHILDID_SELF)));
    for (long id = 1; id <= count; ++id) {
        IDispatch* dispatch = nullptr;
        IAccessible* own = nullptr;
        if (client->get_accChild(Child(id), &dispatch) == S_OK && dispatch != nullptr) {
            dispatch->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&own));
            dispatch->Release();
        }
        IAccessible* object = own != nullptr ? own : client;
        const VARIANT self = own != nullptr ? Child(CHILDID_SELF) : Child(id);
        VARIANT role{};
        object->get_accRole(self, &role);
        const std::wstring valueText = Text(object, &IAccessible::get_accValue, self);
        Print(L"child " + std::to_wstring(id) + L" role " +
              (own != nullptr ? std::wstring(L"object") : std::to_wstring(role.lVal)) + L" name " +
              Name(object, self) + L" value " + valueText);
        if (own != nullptr) own->Release();
    }
    client->Release();
}

const wchar_t* KindName(DWORD kind) {
    switch (kind) {
    case EVENT_OBJECT_NAMECHANGE: return L"namechange";
    case EVENT_OBJECT_VALUECHANGE: return L"valuechange";
    case EVENT_OBJECT_LIVEREGIONCHANGED: return L"liveregion";
    case EVENT_OBJECT_FOCUS: return L"focus";
    case EVENT_OBJECT_REORDER: return L"reorder";
    case EVENT_SYSTEM_ALERT: return L"alert";
    default: return L"other";
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool listen = argc > 2 && std::wstring(argv[1]) == L"listen";
    if (listen) {
        const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
        SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, OnEvent, 0, 0, flags);
        SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr, OnEvent, 0, 0, flags);
        Print(L"ready");
        const ULONGLONG end = GetTickCount64() + 1000ull * _wtoi(argv[2]);
        ULONGLONG settled = 0;  // what follows an alert arrives too
        while (GetTickCount64() < end && (settled == 0 || GetTickCount64() < settled)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            if (alerted && settled == 0) settled = GetTickCount64() + 500;
        }
        const std::vector<Event> seen = events;  // the queries below may add to `events`
        for (const Event& event : seen) {
            IAccessible* object = nullptr;
            VARIANT child{};
            std::wstring name;
            if (SUCCEEDED(AccessibleObjectFromEvent(event.window, event.object, event.child, &object, &child))) {
                name = Name(object, child);
                object->Release();
            }
            Print(std::wstring(L"event ") + KindName(event.kind) + L" " + std::to_wstring(event.child) + L" " + name);
        }
    }
    const HWND window = FindWindowW(L"TavroInstallerWindow", nullptr);
    if (window == nullptr) {
        Print(L"error no window");
        return 1;
    }
    PrintTree(window);
    return 0;
}
