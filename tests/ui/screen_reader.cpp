// Reads the installer window as a screen reader does, from another process, through MSAA.
//   screen_reader read            prints the page's accessible tree
//   screen_reader listen SECONDS  prints "ready", records the window's WinEvents until it
//                                 raises an alert (or SECONDS pass), then prints each event
//                                 with the name its object has now, and the tree
// Output, UTF-8 lines: "event <kind> <child> <name>", "client <name>",
// "child <id> role <role> name <name> value <value>" ("role object" for a child object).
//   screen_reader activate        sends WM_ACTIVATE, prints "focus retry|window|other"
//   screen_reader dpi DPI         prints WM_GETDPISCALEDSIZE's answer for DPI and the frame
//                                 of that DPI ("scaled <result> <cx> <cy> frame <fx> <fy>"),
//                                 then sends WM_DPICHANGED at the window's own DPI with a
//                                 rectangle 37 pixels too large each way
// Wine's session never sends the last two (no window manager, one screen); their pointers
// are written into the window's process, as neither message is marshalled.
// The hook only records: it is entered again while a query waits on the window's process.
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_handles.h"

namespace {

struct Event {
    DWORD kind;
    HWND window;
    LONG object, child;
};
std::vector<Event> events;

void Print(const std::wstring& line) {
    const std::string bytes = tavro::WideToUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD kind, HWND window, LONG object, LONG child, DWORD, DWORD) {
    wchar_t name[64] = {};
    GetClassNameW(GetAncestor(window, GA_ROOT), name, 64);
    if (std::wstring(name) == L"TavroInstallerWindow") events.push_back({kind, window, object, child});
}

VARIANT Child(LONG id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// Read into a local first: the call and its out parameter as two arguments of one call
// would be evaluated in no fixed order.
std::wstring Text(IAccessible* object, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), LONG id) {
    BSTR text = nullptr;
    const HRESULT hr = (object->*get)(Child(id), &text);
    std::wstring value = SUCCEEDED(hr) && text != nullptr ? text : L"";
    SysFreeString(text);
    return value;
}

void PrintTree(HWND window) {
    IAccessible* client = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&client)))) {
        return Print(L"error no client object");
    }
    long count = 0;
    client->get_accChildCount(&count);
    Print(L"client " + Text(client, &IAccessible::get_accName, CHILDID_SELF));
    for (long id = 1; id <= count; ++id) {
        IDispatch* dispatch = nullptr;
        IAccessible* own = nullptr;
        if (client->get_accChild(Child(id), &dispatch) == S_OK && dispatch != nullptr) {
            dispatch->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&own));
            dispatch->Release();
        }
        IAccessible* object = own != nullptr ? own : client;
        const LONG self = own != nullptr ? CHILDID_SELF : id;
        VARIANT role{};
        object->get_accRole(Child(self), &role);
        Print(L"child " + std::to_wstring(id) + L" role " + (own ? L"object" : std::to_wstring(role.lVal)) + L" name " +
              Text(object, &IAccessible::get_accName, self) + L" value " + Text(object, &IAccessible::get_accValue, self));
        if (own != nullptr) own->Release();
    }
    client->Release();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (argc > 2 && std::wstring(argv[1]) == L"listen") {
        const DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
        SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, OnEvent, 0, 0, flags);
        SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr, OnEvent, 0, 0, flags);
        Print(L"ready");
        ULONGLONG end = GetTickCount64() + 1000ull * _wtoi(argv[2]);
        bool alerted = false;
        while (GetTickCount64() < end) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            if (!alerted && std::any_of(events.begin(), events.end(),
                                        [](const Event& e) { return e.kind == EVENT_SYSTEM_ALERT; })) {
                alerted = true;
                end = GetTickCount64() + 500;  // what follows an alert (the focus on Retry) comes too
            }
        }
        const std::vector<Event> seen = events;  // the queries below may add to `events`
        const std::wstring kinds[] = {L"namechange", L"valuechange", L"liveregion", L"focus", L"alert"};
        const DWORD ids[] = {EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED,
                             EVENT_OBJECT_FOCUS, EVENT_SYSTEM_ALERT};
        for (const Event& event : seen) {
            IAccessible* object = nullptr;
            VARIANT child{};
            std::wstring name;
            if (SUCCEEDED(AccessibleObjectFromEvent(event.window, event.object, event.child, &object, &child))) {
                name = Text(object, &IAccessible::get_accName, child.lVal);
                object->Release();
            }
            std::wstring kind = std::to_wstring(event.kind);
            for (size_t i = 0; i < std::size(ids); ++i) kind = ids[i] == event.kind ? kinds[i] : kind;
            Print(L"event " + kind + L" " + std::to_wstring(event.child) + L" " + name);
        }
    }
    const HWND window = FindWindowW(L"TavroInstallerWindow", nullptr);
    if (window == nullptr) {
        Print(L"error no window");
        return 1;
    }
    if (argc > 1 && std::wstring(argv[1]) == L"activate") {
        SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
        GUITHREADINFO info{sizeof(info)};
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
        const HWND retry = FindWindowExW(window, nullptr, L"Button", nullptr);
        Print(std::wstring(L"focus ") + (info.hwndFocus == retry ? L"retry" : info.hwndFocus == window ? L"window" : L"other"));
        return 0;
    }
    if (argc > 2 && std::wstring(argv[1]) == L"dpi") {
        DWORD id = 0;
        GetWindowThreadProcessId(window, &id);
        const tavro::UniqueKernelHandle owner(
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id));
        const HANDLE process = owner.get();
        void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
        const UINT dpi = static_cast<UINT>(_wtoi(argv[2]));
        SIZE size{};
        WriteProcessMemory(process, remote, &size, sizeof(size), nullptr);
        const LRESULT answered = SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process, remote, &size, sizeof(size), nullptr);
        RECT frame{};
        AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                                 static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)), dpi);
        Print(L"scaled " + std::to_wstring(answered) + L" " + std::to_wstring(size.cx) + L" " + std::to_wstring(size.cy) +
              L" frame " + std::to_wstring(frame.right - frame.left) + L" " + std::to_wstring(frame.bottom - frame.top));
        RECT suggested{};
        GetWindowRect(window, &suggested);
        suggested.right += 37;
        suggested.bottom += 37;
        WriteProcessMemory(process, remote, &suggested, sizeof(suggested), nullptr);
        const UINT own = GetDpiForWindow(window);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(own, own), reinterpret_cast<LPARAM>(remote));
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        return 0;
    }
    PrintTree(window);
    return 0;
}
