#include "ui/installer_window.h"

#include <objidl.h>  // before gdiplus.h (through media.h): the lean Windows headers leave out PROPID

#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <windowsx.h>

#include "core/install_flow.h"
#include "platform/errors.h"
#include "platform/system_functions.h"
#include "shared/event_log.h"
#include "shared/localized_strings.h"
#include "ui/media.h"
#include "ui/page_accessible.h"
#include "ui/page_layout.h"
#include "ui/page_painter.h"
#include "ui/page_style.h"
#include "ui/window_rules.h"
#include "ui/window_status_sink.h"

namespace tavro::ui {

namespace {

constexpr wchar_t kClassName[] = L"TavroInstallerWindow";
constexpr wchar_t kTitle[] = L"Tavro Installer";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr int kRetryId = 100;
constexpr int kOfflineLinkId = 101;  // the command of the offline link, which the page draws
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
    int failedRuns = 0;       // install runs that failed with an offline offer, since the window opened
    bool linkChosen = false;  // the focus belongs on the link, not on Retry, while the window has it
    WindowStatusSink sink;    // the runs' reports, posted to this window
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

// The link shows its focus while the window has the keyboard focus and the user moved it
// there: the link is no window of its own, so the window holds the focus for it.
void UpdateLinkFocus(HWND window, bool windowFocused) {
    WindowState& state = State();
    const bool focused = windowFocused && state.linkChosen && state.page.failureShown && !state.page.offlineLink.empty();
    if (focused == state.page.linkFocused) return;
    state.page.linkFocused = focused;
    InvalidateAll(window);
    if (focused) NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, ChildIdOf(PageItems(state.page, L""), PageItemKind::Link));
}

void FocusLink(HWND window, bool link) {
    WindowState& state = State();
    state.linkChosen = link;
    SetFocus(link ? window : state.button);
    UpdateLinkFocus(window, GetFocus() == window);
}

bool LinkShows() {
    const PageState& page = State().page;
    return page.failureShown && !page.offlineLink.empty();
}

// The link's box in client pixels.
RECT LinkRect(HWND window) {
    const DesignBox& box = State().page.linkBox;
    const float s = DesignScale(GetDpiForWindow(window));
    return {static_cast<LONG>(box.x * s), static_cast<LONG>(box.y * s), static_cast<LONG>((box.x + box.width) * s + 0.5f),
            static_cast<LONG>((box.y + box.height) * s + 0.5f)};
}

bool OverLink(HWND window, POINT client) {
    const RECT link = LinkRect(window);
    return LinkShows() && PtInRect(&link, client);
}

void ShowRetry(core::OfflineOffer offer) {
    WindowState& state = State();
    state.linkChosen = false;
    state.page.linkFocused = false;
    state.page.offlineLink = ShowsOfflineLink(offer, state.failedRuns) ? LookupText(L"desktop_installer_offline_link") : L"";
    state.page.linkBox = state.page.offlineLink.empty() ? DesignBox{}
                                                        : MeasureOfflineLink(state.page.offlineLink, GetDpiForWindow(state.window));
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
        ShowRetry(core::OfflineOffer::Never);
    }
}

void RetryCommand() {
    const RetryStart start = PressRetry();
    if (start == RetryStart::Ignored) return;
    WindowState& state = State();
    ShowWindow(state.button, SW_HIDE);
    FitWindowToDpi(state.window);
    state.page.failureShown = false;
    state.page.offlineLink.clear();
    state.page.linkFocused = false;
    state.linkChosen = false;
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
    // The link keeps the focus that the user gave it.
    const bool retry = button != nullptr && IsWindowVisible(button) && !(State().linkChosen && LinkShows());
    SetFocus(retry ? button : window);
}

void Resized(HWND window) {
    // Frames already decoded at another DPI are scaled again when they are painted.
    SetVideoTarget(MediaStrip(GetDpiForWindow(window)));
    PlaceRetryButton(window, State().button);
    PageState& page = State().page;
    // Text is hinted to each DPI's pixels: its width there is measured anew.
    if (!page.offlineLink.empty()) page.linkBox = MeasureOfflineLink(page.offlineLink, GetDpiForWindow(window));
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
        if (LOWORD(wParam) == kOfflineLinkId && LinkShows()) core::OpenOfflinePage();
        // IsDialogMessageW turns Esc into IDCANCEL: it closes as the title bar's button does.
        if (LOWORD(wParam) == IDCANCEL) CloseRequested(window);
        return 0;
    case WM_GETOBJECT:
        return State().accessibility.Answer(window, {kRetryId, kOfflineLinkId}, State().page, wParam, lParam);
    case WM_SETFOCUS:
        UpdateLinkFocus(window, true);
        return 0;
    case WM_KILLFOCUS:
        // Retry taking the focus, by a click or Tab, takes it from the link too.
        if (reinterpret_cast<HWND>(wParam) == State().button) State().linkChosen = false;
        UpdateLinkFocus(window, false);
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            POINT point{};
            GetCursorPos(&point);
            ScreenToClient(window, &point);
            if (OverLink(window, point)) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_LBUTTONUP:
        if (OverLink(window, {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) {
            FocusLink(window, true);
            core::OpenOfflinePage();
        }
        return 0;
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
        ShowRetry(static_cast<core::OfflineOffer>(wParam));
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
    state.sink = WindowStatusSink(state.window);
    SetStatusSink(&state.sink);
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

bool HandlePageKey(const MSG& message) {
    WindowState& state = State();
    if (message.message != WM_KEYDOWN || state.window == nullptr || !LinkShows()) return false;
    if (message.hwnd != state.window && message.hwnd != state.button) return false;
    if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
    // Retry and the link are the page's two stops: Tab and Shift+Tab both move to the other.
    if (message.wParam == VK_TAB) {
        FocusLink(state.window, !state.page.linkFocused);
        return true;
    }
    const bool repeat = (message.lParam & (1 << 30)) != 0;  // held down: the link opens once
    if (state.page.linkFocused && (message.wParam == VK_RETURN || message.wParam == VK_SPACE)) {
        if (repeat) return true;
        core::OpenOfflinePage();
        return true;
    }
    return false;
}

}  // namespace tavro::ui
