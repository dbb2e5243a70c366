// Test helper: waits for the installer's start-up error box, reports what it shows and
// presses OK, so that end-to-end tests never hang on a box.
// Usage: dismiss_box.exe <seconds>. Prints "text: ...", "icon: error|other|none" (UTF-8)
// and exits 0 once a box was dismissed, 2 when none appeared in time.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/text.h"

namespace {

constexpr wchar_t kCaption[] = L"Tavro Installer";

struct BoxContents {
    std::wstring text;
    HWND icon = nullptr;
    HWND okButton = nullptr;
};

// Icon handles belong to the process that loaded them, so the box's icon is judged by
// what the screen shows: the error icon is the one drawn mostly in red.
bool LooksLikeErrorIcon(HWND iconControl) {
    RECT rect{};
    GetWindowRect(iconControl, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    int red = 0;
    const auto* pixels = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < width * height; ++i) {
        const int b = pixels[i * 4], g = pixels[i * 4 + 1], r = pixels[i * 4 + 2];
        if (r > 150 && g < 100 && b < 100) ++red;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return red * 5 > width * height;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    auto* contents = reinterpret_cast<BoxContents*>(param);
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    if (lstrcmpiW(className, L"Static") == 0) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            contents->icon = child;
        } else {
            wchar_t text[2048] = {};
            GetWindowTextW(child, text, 2048);
            if (text[0] != L'\0') contents->text = text;
        }
    } else if (lstrcmpiW(className, L"Button") == 0 && GetDlgCtrlID(child) == IDOK) {
        contents->okButton = child;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    for (int waited = 0; waited < seconds * 10; ++waited) {
        const HWND box = FindWindowW(L"#32770", kCaption);
        if (box == nullptr) {
            Sleep(100);
            continue;
        }
        Sleep(500);  // let the box finish laying out and painting its controls
        BoxContents contents;
        EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&contents));
        const char* icon = contents.icon == nullptr ? "none" : LooksLikeErrorIcon(contents.icon) ? "error" : "other";
        std::printf("text: %s\nicon: %s\nok: %s\n", tavro::WideToUtf8(contents.text).c_str(), icon,
                    contents.okButton != nullptr ? "yes" : "no");
        std::fflush(stdout);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(contents.okButton));
        return 0;
    }
    std::printf("no box\n");
    return 2;
}
