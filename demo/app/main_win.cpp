// Tavro.exe of the demo product: a small window that stands in for the real
// application, answers the installer's launch handshake, and obeys the test
// harness's switches (TAVRO_DEMO_APP_MODE, TAVRO_DEMO_APP_LIFETIME_MS,
// TAVRO_DEMO_APP_LOG).
#include <windows.h>
#include <shellapi.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "demo_handles_win.h"
#include "demo_paths_win.h"
#include "harness_win.h"
#include "launch_session_win.h"
#include "module_version_win.h"
#include "wide_text_win.h"

namespace tavro::demo {
namespace {

constexpr wchar_t kLogVariable[] = L"TAVRO_DEMO_APP_LOG";
constexpr wchar_t kWindowClass[] = L"TavroDemoApplication";
constexpr UINT_PTR kLifetimeTimer = 1;
// The code for a harness switch that the program does not understand.
constexpr int kBadSwitchExitCode = ERROR_INVALID_PARAMETER;

// Replaces malformed UTF-8 instead of throwing: a log line must never end the program.
void Log(const nlohmann::ordered_json& line) {
    AppendHarnessLog(kLogVariable, line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

// What the window shows; lives in wWinMain for the whole message loop.
struct WindowContent {
    std::wstring version;
    std::wstring origin;
};

std::vector<std::wstring> CommandLineArguments() {
    int count = 0;
    LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
    const UniqueLocalMemory owner(raw);
    std::vector<std::wstring> arguments;
    for (int i = 0; raw != nullptr && i < count; ++i) arguments.emplace_back(raw[i]);
    return arguments;
}

int ScaleForDpi(HWND window, int value) {
    const UINT dpi = GetDpiForWindow(window);
    return MulDiv(value, dpi == 0 ? USER_DEFAULT_SCREEN_DPI : static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
}

UniqueGdiObject CreateUiFont(HWND window, int points, int weight) {
    return UniqueGdiObject(CreateFontW(-ScaleForDpi(window, points * 96 / 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                       DEFAULT_PITCH | FF_SWISS, L"Segoe UI"));
}

// Selects an object into a device context and puts the previous one back on scope exit,
// so that no owned object is still selected when its owner deletes it.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (previous_ != nullptr) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

void Paint(HWND window, HDC dc, const WindowContent& content) {
    RECT client{};
    GetClientRect(window, &client);
    const UniqueGdiObject background(CreateSolidBrush(RGB(246, 244, 239)));
    FillRect(dc, &client, static_cast<HBRUSH>(background.get()));

    // The mark: a filled disc with the initial in it.
    const int mark = ScaleForDpi(window, 72);
    const int margin = ScaleForDpi(window, 28);
    const RECT markRect{margin, margin, margin + mark, margin + mark};
    const UniqueGdiObject markBrush(CreateSolidBrush(RGB(38, 110, 160)));
    {
        const SelectedObject brush(dc, markBrush.get());
        const SelectedObject pen(dc, GetStockObject(NULL_PEN));
        Ellipse(dc, markRect.left, markRect.top, markRect.right, markRect.bottom);
    }
    SetBkMode(dc, TRANSPARENT);
    const UniqueGdiObject markFont = CreateUiFont(window, 28, FW_BOLD);
    {
        const SelectedObject font(dc, markFont.get());
        SetTextColor(dc, RGB(255, 255, 255));
        RECT r = markRect;
        DrawTextW(dc, L"T", 1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }

    const UniqueGdiObject titleFont = CreateUiFont(window, 22, FW_SEMIBOLD);
    const UniqueGdiObject bodyFont = CreateUiFont(window, 10, FW_NORMAL);
    RECT text{markRect.right + margin, margin, client.right - margin, margin + mark / 2 + ScaleForDpi(window, 8)};
    {
        const SelectedObject font(dc, titleFont.get());
        SetTextColor(dc, RGB(32, 32, 32));
        DrawTextW(dc, L"Tavro", -1, &text, DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
    }
    text.top = text.bottom + ScaleForDpi(window, 4);
    text.bottom = client.bottom - margin;
    {
        const SelectedObject font(dc, bodyFont.get());
        SetTextColor(dc, RGB(90, 90, 90));
        const std::wstring body = L"Version " + content.version + L"\n" + content.origin;
        DrawTextW(dc, body.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORDBREAK);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
            case WM_NCCREATE: {
                const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
                SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
                break;
            }
            case WM_PAINT: {
                PAINTSTRUCT ps{};
                const HDC dc = BeginPaint(window, &ps);
                const auto* content = reinterpret_cast<const WindowContent*>(GetWindowLongPtrW(window, GWLP_USERDATA));
                if (dc != nullptr && content != nullptr) Paint(window, dc, *content);
                EndPaint(window, &ps);
                return 0;
            }
            case WM_DPICHANGED: {
                const auto* suggested = reinterpret_cast<const RECT*>(lParam);
                SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                             suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
                return 0;
            }
            case WM_TIMER:
                if (wParam == kLifetimeTimer) {
                    KillTimer(window, kLifetimeTimer);
                    DestroyWindow(window);
                    return 0;
                }
                break;
            case WM_DESTROY:
                PostQuitMessage(0);
                return 0;
            default:
                break;
        }
    } catch (...) {
        // Nothing may unwind through the system's frames; the window simply skips this message.
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateMainWindow(HINSTANCE instance, WindowContent* content) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) return nullptr;
    const UINT dpi = GetDpiForSystem();
    const int width = MulDiv(480, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    const int height = MulDiv(220, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    return CreateWindowExW(0, kWindowClass, L"Tavro", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, width,
                           height, nullptr, nullptr, instance, content);
}

int Run(HINSTANCE instance, int showCommand) {
    const std::vector<std::wstring> arguments = CommandLineArguments();
    const std::wstring executable = ModulePath();
    const std::wstring version = ReadProductVersion(executable);

    nlohmann::ordered_json start{{"program", "Tavro.exe"}, {"event", "start"}, {"pid", GetCurrentProcessId()},
                                 {"version", ToUtf8(version)}};
    nlohmann::ordered_json argv = nlohmann::ordered_json::array();
    for (const std::wstring& argument : arguments) argv.push_back(ToUtf8(argument));
    start["argv"] = std::move(argv);

    const std::optional<std::wstring> modeText = ReadHarnessSwitch(L"TAVRO_DEMO_APP_MODE");
    const std::optional<AppMode> mode = ParseAppMode(modeText.value_or(L""));
    const std::optional<std::wstring> lifetimeText = ReadHarnessSwitch(L"TAVRO_DEMO_APP_LIFETIME_MS");
    const std::optional<std::uint32_t> lifetime =
        lifetimeText ? ParseDecimal(*lifetimeText, 0x7FFFFFFF) : std::nullopt;
    start["mode"] = mode ? AppModeName(*mode) : ToUtf8(*modeText);
    if (lifetimeText) start["lifetimeMs"] = ToUtf8(*lifetimeText);
    Log(start);
    if (!mode || (lifetimeText && !lifetime)) {
        Log({{"event", "exit"}, {"code", kBadSwitchExitCode}, {"error", "unknown harness switch value"}});
        return kBadSwitchExitCode;
    }
    if (*mode == AppMode::kExitAtOnce) {
        Log({{"event", "exit"}, {"code", 0}});
        return 0;
    }

    // Only the exact two-argument form is a hand-over; anything else is an ordinary start.
    std::optional<std::wstring> sessionId;
    if (arguments.size() == 2 && arguments[1].starts_with(kSessionSwitch))
        sessionId = arguments[1].substr(kSessionSwitch.size());

    // The request is read before the window exists: the installer wrote it before starting us.
    std::string requestProblem;
    std::wstring receiptFolder;
    if (sessionId) {
        if (!IsUsableSessionId(*sessionId)) {
            requestProblem = "unusable-session-id";
        } else {
            receiptFolder = ReceiptFolderPath();
            requestProblem = CheckLaunchRequest(receiptFolder, *sessionId, NowUnixMilliseconds());
        }
    }

    WindowContent content{version, sessionId ? L"Started by the installer." : L"Started directly."};
    const HWND window = CreateMainWindow(instance, &content);
    if (window == nullptr) {
        Log({{"event", "exit"}, {"code", 1}, {"error", "cannot create the main window"}});
        return 1;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    if (sessionId) {
        nlohmann::ordered_json outcome{{"event", "receipt"}, {"sessionId", ToUtf8(*sessionId)}};
        if (!requestProblem.empty()) {
            outcome["written"] = false;
            outcome["reason"] = requestProblem;
        } else if (*mode == AppMode::kNoReceipt) {
            outcome["written"] = false;
            outcome["reason"] = "mode no-receipt";
        } else {
            try {
                WriteLaunchReceipt(receiptFolder, *sessionId, BuildLaunchReceipt(*sessionId, executable, version, *mode));
                outcome["written"] = true;
            } catch (const std::exception& e) {
                outcome["written"] = false;
                outcome["reason"] = e.what();
            }
        }
        Log(outcome);
    }

    if (lifetime) SetTimer(window, kLifetimeTimer, *lifetime, nullptr);
    MSG message{};
    int result = 0;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            result = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1) {
            result = 1;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    Log({{"event", "exit"}, {"code", result}});
    return result;
}

}  // namespace
}  // namespace tavro::demo

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    try {
        return tavro::demo::Run(instance, showCommand);
    } catch (const std::exception& e) {
        tavro::demo::Log({{"event", "exit"}, {"code", 1}, {"error", e.what()}});
        return 1;
    }
}
