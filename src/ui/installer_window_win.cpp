#include "ui/installer_window.h"

#include <objidl.h>  // before gdiplus.h (through media.h): the lean Windows headers leave out PROPID

#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "core/event_log.h"
#include "core/install_flow.h"
#include "platform/errors.h"
#include "platform/system_functions.h"
#include "ui/localized_strings.h"
#include "ui/media.h"
#include "ui/page_accessible.h"
#include "ui/page_layout.h"
#include "ui/page_painter.h"
#include "ui/page_style.h"
#include "ui/status_update.h"
#include "ui/window_rules.h"

namespace tavro::ui {

namespace {

constexpr wchar_t kClassName[] = L"TavroInstallerWindow";
constexpr wchar_t kTitle[] = L"Tavro Installer";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr int kRetryId = 100;
constexpr UINT_PTR kSweepTimer = 1;
constexpr UINT_PTR kSlideTimer = 2;
constexpr UINT kSweepMilliseconds = 50;
constexpr UINT kSlideMilliseconds = 6000;
constexpr DWORD kCornerPreference = 33;  // DWMWA_WINDOW_CORNER_PREFERENCE (Windows 11 SDKs)
constexpr DWORD kRoundCorners = 2;       // DWMWCP_ROUND

// The one window's state; user-interface thread only.
struct WindowState {
    HWND window = nullptr;
    HWND button = nullptr;
    PageState page;
    PageState announced;  // the page as assistive technology was last told of it
    PageAccessibility accessibility;
    DisplaySettings settings;
    PagePalette palette = ChoosePalette({}, {});
    PageCanvas canvas;
    int clip = kClipResource;
    bool clipAllowed = false;
};

WindowState& State() {
    static WindowState state;
    return state;
}

void InvalidateAll(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
}

void SetStatus(std::wstring status, std::wstring detail, int progress) {
    WindowState& state = State();
    state.page.status = std::move(status);
    state.page.detail = std::move(detail);
    state.page.progress = progress;
    InvalidateAll(state.window);
    state.accessibility.Announce(state.window, state.announced, state.page);
}

// The client size of the design at the window's DPI, widened to the outer size.
SIZE OuterSizeForDpi(HWND window, UINT dpi) {
    RECT rect{0, 0, ScaleByDpi(kClientWidthDip, dpi), ScaleByDpi(kClientHeightDip, dpi)};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    AdjustWindowRectExForDpi(&rect, style, FALSE, exStyle, dpi);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void FitWindowToDpi(HWND window) {
    const SIZE size = OuterSizeForDpi(window, GetDpiForWindow(window));
    RECT current{};
    GetWindowRect(window, &current);
    SetWindowPos(window, nullptr, current.left, current.top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

void PlaceRetryButton(HWND window, HWND button) {
    if (button == nullptr) return;
    const PixelRect target = RetryButtonRect(GetDpiForWindow(window));
    RECT current{};
    GetWindowRect(button, &current);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&current), 2);
    const PixelRect now{current.left, current.top, current.right - current.left, current.bottom - current.top};
    if (now == target) return;
    MoveWindow(button, target.x, target.y, target.width, target.height, TRUE);
}

void ShowRetry() {
    WindowState& state = State();
    SetWindowTextW(state.button, LookupText(L"common_retry").c_str());
    ShowWindow(state.button, SW_SHOW);
    EnableWindow(state.button, TRUE);
    state.page.failureShown = true;
    InvalidateAll(state.window);
    PlaceRetryButton(state.window, state.button);
    SetFocus(state.button);
    state.accessibility.Announce(state.window, state.announced, state.page);
}

void StartWorker(void (*body)()) {
    try {
        std::thread(body).detach();
    } catch (const std::system_error&) {
        // No thread, no run: the flags go back and the user may try again.
        RetryNotStarted();
        SetStatus(LookupText(L"desktop_installer_generic_error"), L"", -1);
        ShowRetry();
    }
}

void RetryCommand() {
    const RetryStart start = PressRetry();
    if (start == RetryStart::Ignored) return;
    WindowState& state = State();
    ShowWindow(state.button, SW_HIDE);
    FitWindowToDpi(state.window);
    state.page.failureShown = false;
    InvalidateAll(state.window);
    if (start == RetryStart::Preview) {
        SetStatus(LookupText(kPreviewStatusKey), L"", kPreviewProgress);
    } else {
        StartWorker(start == RetryStart::LaunchRetry ? &core::RunLaunchRetry : &core::RunInstallFlow);
    }
}

void CloseRequested(HWND window) {
    const CloseResult result =
        RequestClose([] { PostStatusUpdate(LookupText(kPausingStatusKey), L"", -1); });
    if (result == CloseResult::Close) {
        DestroyWindow(window);
    } else if (result == CloseResult::Leave) {
        WriteEvent("cancelled");
        DestroyWindow(window);
    } else if (result == CloseResult::Refuse) {
        MessageBeep(MB_ICONASTERISK);
    }
}

// High contrast and reduced motion as Windows reports them now: the colours, the clip and
// the turning of the slides follow every change.
void ApplyDisplaySettings(HWND window) {
    WindowState& state = State();
    state.settings = ReadDisplaySettings();
    state.palette = ChoosePalette(state.settings, ReadSystemColours());
    if (!RotatesSlides(state.settings)) state.page.slideIndex = 0;
    const bool play = PlaysClip(state.settings);
    if (play != state.clipAllowed) {
        state.clipAllowed = play;
        const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
        // Without video the page shows the slides.
        if (play) static_cast<void>(StartVideo(instance, window, state.clip));
        else StopVideo();
    }
    InvalidateAll(window);
    if (state.button != nullptr) InvalidateRect(state.button, nullptr, FALSE);
}

void TimerTick(HWND window, UINT_PTR id) {
    WindowState& state = State();
    PageState& page = state.page;
    if (id == kSweepTimer) {
        if (!SweepRuns(page.progress, page.failureShown)) return;
        page.sweepPhase = AdvanceSweep(page.sweepPhase);
        // Only the bar moves: the rest of the page stays on screen.
        const PixelRect bar = BarStrip(GetDpiForWindow(window));
        const RECT rect{bar.x, bar.y, bar.x + bar.width, bar.y + bar.height};
        InvalidateRect(window, &rect, FALSE);
    } else if (id == kSlideTimer && RotatesSlides(state.settings)) {
        page.slideIndex = (page.slideIndex + 1) % kSlideCount;
        InvalidateAll(window);
    }
}

// The dialog manager's rule for a window with one control: the focus goes back to Retry
// whenever the window becomes active while Retry shows; otherwise the window keeps it.
// DefWindowProc would put it on the window itself, where Space presses nothing.
void Activated(HWND window, WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE || HIWORD(wParam) != 0) return;  // deactivated, or minimized
    const HWND button = State().button;
    SetFocus(button != nullptr && IsWindowVisible(button) ? button : window);
}

void Resized(HWND window) {
    // Frames already decoded at another DPI are scaled again when they are painted.
    SetVideoTarget(MediaStrip(GetDpiForWindow(window)));
    PlaceRetryButton(window, State().button);
    InvalidateAll(window);
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        State().canvas.Paint(window, State().page, State().palette);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the page paints every pixel
    case WM_DRAWITEM:
        DrawRetryButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), State().palette);
        return 1;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN && EnterPressesRetry(IsWindowVisible(State().button))) {
            SendMessageW(window, WM_COMMAND, kRetryId, reinterpret_cast<LPARAM>(State().button));
        }
        return 0;
    case DM_GETDEFID:
        // IsDialogMessageW turns Enter into a command for the default button; without one
        // it sends IDOK, which nothing answers. While Retry shows, Enter presses it.
        return EnterPressesRetry(IsWindowVisible(State().button)) ? MAKELRESULT(kRetryId, DC_HASDEFID) : 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kRetryId) RetryCommand();
        // IsDialogMessageW turns Esc into IDCANCEL: it closes as the title bar's button does.
        if (LOWORD(wParam) == IDCANCEL) CloseRequested(window);
        return 0;
    case WM_GETOBJECT:
        return State().accessibility.Answer(window, kRetryId, State().page, wParam, lParam);
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        ApplyDisplaySettings(window);
        return 0;
    case WM_TIMER:
        TimerTick(window, wParam);
        return 0;
    case WM_GETDPISCALEDSIZE:
        // Windows would scale the whole outer size linearly, but the frame does not scale
        // so: the page's client at the new DPI, widened by that DPI's frame, is the size.
        *reinterpret_cast<SIZE*>(lParam) = OuterSizeForDpi(window, static_cast<UINT>(wParam));
        return TRUE;
    case WM_DPICHANGED: {
        // Where the suggested rectangle puts the window, at the size that holds the page at
        // the new DPI: a suggestion of any other size would leave columns or rows that the
        // page and its frames do not cover.
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        const SIZE size = OuterSizeForDpi(window, LOWORD(wParam));
        SetWindowPos(window, nullptr, suggested.left, suggested.top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
        Resized(window);
        return 0;
    }
    case WM_ACTIVATE:
        Activated(window, wParam);
        return 0;
    case WM_SIZE:
        Resized(window);
        return 0;
    case WM_APP_STATUS: {
        std::unique_ptr<StatusUpdate> update(reinterpret_cast<StatusUpdate*>(lParam));
        if (update) SetStatus(std::move(update->status), std::move(update->detail), update->progress);
        return 0;
    }
    case WM_APP_SHOW_RETRY:
        ShowRetry();
        return 0;
    case WM_CLOSE:
        CloseRequested(window);
        return 0;
    case WM_DESTROY:
        State().accessibility.Disconnect();
        State().canvas.Release();
        KillTimer(window, kSweepTimer);
        KillTimer(window, kSlideTimer);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's message dispatch.
        return 0;
    }
}

}  // namespace

HWND CreateInstallerWindow(HINSTANCE instance, int showCommand) {
    if (!InitializeMedia(instance)) Fail("Cannot initialize installer UI");

    const auto icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(101), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);

    const UINT dpi = GetDpiForSystem();
    RECT outer{0, 0, ScaleByDpi(kClientWidthDip, dpi), ScaleByDpi(kClientHeightDip, dpi)};
    AdjustWindowRectExForDpi(&outer, kStyle, FALSE, 0, dpi);
    WindowState& state = State();
    state.window = CreateWindowExW(0, kClassName, kTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                   outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr, instance,
                                   nullptr);
    if (state.window == nullptr) Fail("Cannot create installer window");
    SetMainWindow(state.window);
    const DWORD corners = kRoundCorners;
    try {
        Dwm().DwmSetWindowAttribute(state.window, kCornerPreference, &corners, sizeof(corners));
    } catch (const PlatformError&) {
        // Square corners: the window works the same without the window manager's help.
    }

    state.button = CreateWindowExW(0, L"BUTTON", LookupText(L"common_retry").c_str(),
                                   WS_CHILD | WS_TABSTOP | BS_OWNERDRAW, 0, 0, 0, 0, state.window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kRetryId)), instance, nullptr);
    if (state.button == nullptr) Fail("Cannot create installer action");
    PlaceRetryButton(state.window, state.button);

    state.clip = kClipResource + (PrefersJapaneseUi() ? 1 : 0);
    SetVideoTarget(MediaStrip(GetDpiForWindow(state.window)));
    ApplyDisplaySettings(state.window);
    SetTimer(state.window, kSweepTimer, kSweepMilliseconds, nullptr);
    SetTimer(state.window, kSlideTimer, kSlideMilliseconds, nullptr);

    ShowWindow(state.window, showCommand);
    FitWindowToDpi(state.window);
    SetStatus(LookupText(L"desktop_installer_checking"), L"", -1);
    UpdateWindow(state.window);
    SendMessageW(state.window, WM_COMMAND, kRetryId, reinterpret_cast<LPARAM>(state.button));
    return state.window;
}

HWND RetryButton() {
    return State().button;
}

}  // namespace tavro::ui
