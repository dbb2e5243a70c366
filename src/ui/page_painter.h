#pragma once

#include <windows.h>

#include "ui/page_model.h"
#include "ui/page_style.h"

namespace tavro::ui {

// The WM_PAINT handler: the whole page drawn off-screen with GDI+ and copied in one blit.
void PaintWindow(HWND window, const PageState& page, const PagePalette& palette);

// Draws the whole page into `dc`, whose bitmap covers the client area at `dpi`.
void PaintPage(HDC dc, unsigned dpi, const PageState& page, const PagePalette& palette);

// The WM_DRAWITEM handler of the owner-drawn Retry button.
void DrawRetryButton(const DRAWITEMSTRUCT& item, const PagePalette& palette);

// Draws the button's face and `text` into `rect` of `dc` at `dpi`; `itemState` holds the
// ODS_ flags of its state.
void DrawRetryButton(HDC dc, const RECT& rect, UINT itemState, const wchar_t* text, unsigned dpi,
                     const PagePalette& palette);

}  // namespace tavro::ui
