// Paints the installer's page as a high-contrast user sees it, from the system colours this
// process was started with, into a PNG of the client area at 96 DPI.
//   page_shot OUT.png            the download at 48 %
//   page_shot OUT.png failure    the network failure with Retry
//   page_shot OUT.png link       the same with the offline link, which has the focus
// This Wine cannot turn high contrast on, so the setting is given here; everything else
// (the colours Windows reports, the choice of palette, the painter) is the installer's own.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>

#include "platform/win_handles.h"
#include "shared/localized_strings.h"
#include "ui/media.h"
#include "ui/page_layout.h"
#include "ui/page_painter.h"

using namespace tavro;
using namespace tavro::ui;

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const bool link = argc > 2 && std::wstring(argv[2]) == L"link";
    const bool failure = link || (argc > 2 && std::wstring(argv[2]) == L"failure");
    LoadLocalizedStrings();
    if (!InitializeMedia(GetModuleHandleW(nullptr))) return 3;  // the slides a high-contrast page leaves out

    const PagePalette palette = ChoosePalette({.highContrast = true}, ReadSystemColours());
    PageState page;
    page.status = LookupText(failure ? L"desktop_installer_network_error" : L"desktop_installer_downloading");
    page.progress = failure ? -1 : 48;
    page.failureShown = failure;
    if (link) {
        page.offlineLink = LookupText(L"desktop_installer_offline_link");
        page.linkBox = MeasureOfflineLink(page.offlineLink, 96);
        page.linkFocused = true;
    }

    const int width = ScaleByDpi(kClientWidthDip, 96);
    const int height = ScaleByDpi(kClientHeightDip, 96);
    const HDC screen = GetDC(nullptr);
    const UniqueHandle<detail::ClosedBy<HDC, &DeleteDC>> memory(CreateCompatibleDC(screen));
    const UniqueHandle<detail::ClosedBy<HBITMAP, &DeleteObject>> bitmap(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
    const HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    PaintPage(memory.get(), 96, page, palette);
    if (failure) {
        const PixelRect button = RetryButtonRect(96);
        const RECT rect{button.x, button.y, button.x + button.width, button.y + button.height};
        DrawRetryButton(memory.get(), rect, ODS_FOCUS, LookupText(L"common_retry").c_str(), 96, palette);
    }
    SelectObject(memory.get(), previous);

    // The PNG encoder of GDI+, {557CF406-1A04-11D3-9A73-0000F81EF32E}.
    const CLSID png{0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    Gdiplus::GpBitmap* image = nullptr;
    const bool saved = Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap.get(), nullptr, &image) == Gdiplus::Ok &&
                       Gdiplus::DllExports::GdipSaveImageToFile(image, argv[1], &png, nullptr) == Gdiplus::Ok;
    if (image != nullptr) Gdiplus::DllExports::GdipDisposeImage(image);
    CloseMedia();
    return saved ? 0 : 4;
}
