#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/win_handles.h"
#include "ui/page_layers.h"
#include "ui/page_model.h"
#include "ui/page_style.h"

namespace tavro::ui {

// A top-down 32-bit picture selected into a memory context of its own: GDI and GDI+ draw
// into it, the painter reads and writes its rows directly.
class DibPicture {
public:
    // Empty (false) when the context or the picture cannot be made.
    DibPicture(HDC reference, int width, int height);
    ~DibPicture();
    DibPicture(const DibPicture&) = delete;
    DibPicture& operator=(const DibPicture&) = delete;

    explicit operator bool() const { return bits_ != nullptr; }
    HDC dc() const { return dc_.get(); }
    std::uint8_t* Row(int y) const { return bits_ + Pitch() * static_cast<std::size_t>(y); }
    std::size_t Pitch() const { return static_cast<std::size_t>(width_) * 4; }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    UniqueHandle<detail::ClosedBy<HDC, &DeleteDC>> dc_;
    UniqueHandle<detail::ClosedBy<HBITMAP, &DeleteObject>> bitmap_;
    HGDIOBJ previous_ = nullptr;
    std::uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// The page between paints: a layer of everything that changes only with the page, drawn
// again only when its PageLayer changes, and a back buffer in which each paint lays the
// video's frame and the progress segment over the layer before one blit. A frame or a step
// of the sweep so costs copies of the rows it touches. User-interface thread only.
class PageCanvas {
public:
    // The WM_PAINT handler: repaints the update rectangle.
    void Paint(HWND window, const PageState& page, const PagePalette& palette);
    // Frees the pictures; the next paint makes them again.
    void Release();

private:
    std::unique_ptr<DibPicture> layer_;
    std::unique_ptr<DibPicture> back_;
    std::optional<PageLayer> drawn_;
};

// Draws the whole page, with the slides where the video would be, into `dc`, whose bitmap
// covers the client area at `dpi`.
void PaintPage(HDC dc, unsigned dpi, const PageState& page, const PagePalette& palette);

// Where the page draws the offline link's `text` at `dpi`, in design units: what a click
// and a screen reader take for the link. Empty when it cannot be measured.
DesignBox MeasureOfflineLink(const std::wstring& text, unsigned dpi);

// Where a failure page's status text (PageText::Status) or link (PageText::Link) lands at
// `dpi` (the lines' extent, no wider than its box), and whether all of it fits its box
// rather than being cut.
struct TextFit {
    DesignBox box;
    bool whole = false;
};
TextFit MeasureFailureText(PageText which, const std::wstring& text, unsigned dpi, bool linkShown);

// The WM_DRAWITEM handler of the owner-drawn Retry button.
void DrawRetryButton(const DRAWITEMSTRUCT& item, const PagePalette& palette);

// Draws the button's face and `text` into `rect` of `dc` at `dpi`; `itemState` holds the
// ODS_ flags of its state.
void DrawRetryButton(HDC dc, const RECT& rect, UINT itemState, const wchar_t* text, unsigned dpi,
                     const PagePalette& palette);

}  // namespace tavro::ui
