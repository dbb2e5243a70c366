#include "ui/page_painter.h"

#include <objidl.h>  // before gdiplus.h: the lean Windows headers leave out PROPID
#include <gdiplus.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>

#include "platform/win_handles.h"
#include "shared/localized_strings.h"
#include "ui/media.h"
#include "ui/page_layout.h"

namespace tavro::ui {

namespace {

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

using UniqueGraphics = UniqueHandle<detail::ClosedBy<GpGraphics*, &GdipDeleteGraphics>>;
using UniqueSolidFill = UniqueHandle<detail::ClosedBy<GpSolidFill*, &GdipDeleteBrush>>;
using UniqueLineGradient = UniqueHandle<detail::ClosedBy<GpLineGradient*, &GdipDeleteBrush>>;
using UniquePath = UniqueHandle<detail::ClosedBy<GpPath*, &GdipDeletePath>>;
using UniquePen = UniqueHandle<detail::ClosedBy<GpPen*, &GdipDeletePen>>;
using UniqueFont = UniqueHandle<detail::ClosedBy<GpFont*, &GdipDeleteFont>>;
using UniqueFontFamily = UniqueHandle<detail::ClosedBy<GpFontFamily*, &GdipDeleteFontFamily>>;
using UniqueStringFormat = UniqueHandle<detail::ClosedBy<GpStringFormat*, &GdipDeleteStringFormat>>;
using UniqueBrush = UniqueHandle<detail::ClosedBy<HBRUSH, &DeleteObject>>;

constexpr ARGB kWhite = 0xFFFFFFFF;
constexpr ARGB kShadow = 0x026E4DE8;

constexpr wchar_t kFontName[] = L"Segoe UI";

struct Caption {
    const wchar_t* title;
    const wchar_t* subtitle;
};

constexpr std::array<Caption, 3> kCaptions = {{
    {L"Stay in the\nconversation.", L"Capture your meetings with Tavro."},
    {L"From conversation\nto clarity.", L"Turn meeting transcripts into AI summaries."},
    {L"Find the moments\nthat matter.", L"Review your transcripts, all in one place."},
}};

// A graphics object, the colours of this paint and the last drawing failure; painting
// goes on past failures.
struct Painter {
    GpGraphics* graphics;
    const PagePalette& palette;
    GpStatus lastStatus = Ok;

    void Check(GpStatus status) {
        if (status != Ok) lastStatus = status;
    }
};

// Kept for the life of the process: GDI+ hands out one shared generic family.
GpFontFamily* GenericSansSerif() {
    static GpFontFamily* const family = [] {
        GpFontFamily* generic = nullptr;
        return GdipGetGenericFontFamilySansSerif(&generic) == Ok ? generic : nullptr;
    }();
    return family;
}

// Wine has no "Segoe UI"; its generic sans-serif exists only when Tahoma is installed.
// With neither, no font is made and the caller draws no text.
UniqueFont CreatePageFont(const wchar_t* familyName, REAL size, INT style, Unit unit) {
    GpFontFamily* named = nullptr;
    const UniqueFontFamily namedOwner(GdipCreateFontFamilyFromName(familyName, nullptr, &named) == Ok ? named
                                                                                                   : nullptr);
    GpFontFamily* family = namedOwner ? namedOwner.get() : GenericSansSerif();
    GpFont* font = nullptr;
    if (family == nullptr || GdipCreateFont(family, size, style, unit, &font) != Ok) {
        font = nullptr;
        GpFontFamily* generic = GenericSansSerif();
        if (generic == nullptr || GdipCreateFont(generic, size, style, unit, &font) != Ok) font = nullptr;
    }
    return UniqueFont(font);
}

// The alignment, reading order and trimming of one of the page's texts.
UniqueStringFormat PageFormat(Painter& painter, PageText which) {
    const TextFormat chosen = ChooseTextFormat(which, IsRightToLeftUi());
    GpStringFormat* format = nullptr;
    painter.Check(GdipCreateStringFormat(0, LANG_NEUTRAL, &format));
    UniqueStringFormat owner(format);
    if (!format) return owner;
    painter.Check(GdipSetStringFormatAlign(format, static_cast<StringAlignment>(chosen.align)));
    if (chosen.rightToLeft) painter.Check(GdipSetStringFormatFlags(format, StringFormatFlagsDirectionRightToLeft));
    painter.Check(GdipSetStringFormatLineAlign(format, which == PageText::Button ? StringAlignmentCenter
                                                                                  : StringAlignmentNear));
    painter.Check(GdipSetStringFormatTrimming(format, StringTrimmingEllipsisCharacter));
    return owner;
}

void DrawPageTextWith(Painter& painter, const wchar_t* text, const RectF& rect, GpFont* font, PageText which, ARGB colour) {
    GpSolidFill* brush = nullptr;
    painter.Check(GdipCreateSolidFill(colour, &brush));
    const UniqueSolidFill brushOwner(brush);
    const UniqueStringFormat format = PageFormat(painter, which);
    if (!brush || !format || font == nullptr) return;
    painter.Check(GdipDrawString(painter.graphics, text, -1, font, &rect, format.get(), brush));
}

void DrawPageText(Painter& painter, const wchar_t* text, const RectF& rect, REAL size, ARGB colour, bool bold,
                  PageText which) {
    const UniqueFont font = CreatePageFont(kFontName, size, bold ? FontStyleBold : FontStyleRegular, UnitPixel);
    DrawPageTextWith(painter, text, rect, font.get(), which, colour);
}

// The offline link's text: underlined, as links are, whatever its colour says.
UniqueFont CreateLinkFont() {
    return CreatePageFont(kFontName, kLinkTextSize, FontStyleUnderline, UnitPixel);
}

// Where a failure text or the link lands in its box, in design units, and whether all of it
// fits there; nothing when GDI+ cannot say.
TextFit MeasureText(Painter& painter, PageText which, const std::wstring& text, bool linkShown) {
    const bool link = which == PageText::Link;
    const UniqueFont font = link ? CreateLinkFont() : CreatePageFont(kFontName, 16, FontStyleRegular, UnitPixel);
    const UniqueStringFormat format = PageFormat(painter, which);
    const DesignBox area = link ? kLinkRow : StatusBox(true, linkShown);
    const RectF layout(area.x, area.y, area.width, area.height);
    RectF box(0, 0, 0, 0);
    INT fitted = 0;
    if (!font || !format || GdipMeasureString(painter.graphics, text.c_str(), -1, font.get(), &layout, format.get(),
                                              &box, &fitted, nullptr) != Ok) {
        return {};
    }
    // A text longer than its box is trimmed to it when drawn.
    const float left = std::max(box.X, area.x);
    const float right = std::min(box.X + box.Width, area.x + area.width);
    return {{left, box.Y, std::max(right - left, 0.0f), box.Height},
            fitted == static_cast<INT>(text.size()) && box.Y + box.Height <= area.y + area.height + 0.5f};
}

// The link's box: as wide as its text, as high as its row.
DesignBox LinkBox(const TextFit& fit) {
    return {fit.box.x, kLinkRow.y, fit.box.width, kLinkRow.height};
}

// The link and, while it holds the keyboard focus, a dotted frame around it.
void PaintLink(Painter& painter, const PageState& page) {
    const UniqueFont font = CreateLinkFont();
    DrawPageTextWith(painter, page.offlineLink.c_str(), RectF(kLinkRow.x, kLinkRow.y, kLinkRow.width, kLinkRow.height),
             font.get(), PageText::Link, painter.palette.link);
    if (!page.linkFocused || page.linkBox.width <= 0) return;
    GpPen* pen = nullptr;
    painter.Check(GdipCreatePen1(painter.palette.title, 1, UnitWorld, &pen));
    const UniquePen penOwner(pen);
    if (!pen) return;
    painter.Check(GdipSetPenDashStyle(pen, DashStyleDot));
    painter.Check(GdipDrawRectangle(painter.graphics, pen, page.linkBox.x - 2, page.linkBox.y - 1,
                                    page.linkBox.width + 4, page.linkBox.height + 1));
}

// The closed outline of a rounded rectangle; empty when GDI+ could not make the path.
UniquePath RoundedRectPath(Painter& painter, const RectF& r, REAL radius) {
    GpPath* path = nullptr;
    painter.Check(GdipCreatePath(FillModeAlternate, &path));
    UniquePath owner(path);
    if (!path) return owner;
    const REAL d = 2 * radius;
    painter.Check(GdipAddPathArc(path, r.X, r.Y, d, d, 180, 90));
    painter.Check(GdipAddPathArc(path, r.X + r.Width - d, r.Y, d, d, 270, 90));
    painter.Check(GdipAddPathArc(path, r.X + r.Width - d, r.Y + r.Height - d, d, d, 0, 90));
    painter.Check(GdipAddPathArc(path, r.X, r.Y + r.Height - d, d, d, 90, 90));
    painter.Check(GdipClosePathFigure(path));
    return owner;
}

void FillRoundedRectWith(Painter& painter, const RectF& rect, REAL radius, GpBrush* brush) {
    if (!brush) return;
    const UniquePath path = RoundedRectPath(painter, rect, radius);
    if (path) painter.Check(GdipFillPath(painter.graphics, brush, path.get()));
}

void FillRoundedRect(Painter& painter, const RectF& rect, REAL radius, ARGB colour) {
    GpSolidFill* brush = nullptr;
    painter.Check(GdipCreateSolidFill(colour, &brush));
    const UniqueSolidFill brushOwner(brush);
    FillRoundedRectWith(painter, rect, radius, brush);
}

// A rounded frame of `width` world units; nothing for a colour of alpha 0.
void OutlineRoundedRect(Painter& painter, const RectF& rect, REAL radius, ARGB colour, REAL width) {
    if ((colour >> 24) == 0) return;
    GpPen* pen = nullptr;
    painter.Check(GdipCreatePen1(colour, width, UnitWorld, &pen));
    const UniquePen penOwner(pen);
    if (!pen) return;
    const UniquePath path = RoundedRectPath(painter, rect, radius);
    if (path) painter.Check(GdipDrawPath(painter.graphics, pen, path.get()));
}

// A vertical or horizontal gradient between two points, tiled beyond them.
UniqueLineGradient CreateGradient(Painter& painter, PointF from, PointF to, ARGB fromColour, ARGB toColour) {
    GpLineGradient* brush = nullptr;
    painter.Check(GdipCreateLineBrush(&from, &to, fromColour, toColour, WrapModeTile, &brush));
    return UniqueLineGradient(brush);
}

void FillRect(Painter& painter, GpBrush* brush, const RectF& r) {
    if (brush) painter.Check(GdipFillRectangle(painter.graphics, brush, r.X, r.Y, r.Width, r.Height));
}

void PaintSlide(Painter& painter, int index) {
    const Caption& caption = kCaptions[static_cast<size_t>(std::clamp(index, 0, 2))];
    const PagePalette& palette = painter.palette;
    DrawPageText(painter, L"tavro", RectF(40, 26, 220, 50), 30, palette.logo, true, PageText::Logo);
    DrawPageText(painter, caption.title, RectF(40, 116, 355, 116), 32, palette.title, true, PageText::SlideTitle);
    DrawPageText(painter, caption.subtitle, RectF(40, 244, 350, 65), 17, palette.subtitle, false,
                 PageText::SlideSubtitle);
    if (!palette.pictures) return;
    // Twelve faint layers add up to a soft shadow around the slide.
    for (int n = 12; n >= 1; --n) {
        const REAL h = 0.75f * static_cast<REAL>(n);
        FillRoundedRect(painter, RectF(420 - h, 79 - 0.2f * h, 310 + 2 * h, 246 + 2 * h), 18 + h, kShadow);
    }
    if (GpBitmap* slide = SlideImage(index)) {
        UINT width = 0;
        UINT height = 0;
        painter.Check(GdipGetImageWidth(slide, &width));
        painter.Check(GdipGetImageHeight(slide, &height));
        painter.Check(GdipDrawImageRectRect(painter.graphics, slide, 420, 79, 310, 246, 0, 0,
                                            static_cast<REAL>(width), static_cast<REAL>(height), UnitPixel,
                                            nullptr, nullptr, nullptr));
    }
}

// Everything but the video's frame and the progress segment: the page's cached layer. With
// `video` the frame covers the media rectangle and carries the fade itself.
void PaintLayer(Painter& painter, const PageState& page, bool video) {
    const PagePalette& palette = painter.palette;
    const UniqueLineGradient background = CreateGradient(painter, PointF(0, 0), PointF(0, kDesignHeight),
                                                         palette.backgroundTop, palette.backgroundBottom);
    FillRect(painter, background.get(), RectF(0, 0, kDesignWidth, kDesignHeight));

    if (video) {
        GpSolidFill* white = nullptr;
        painter.Check(GdipCreateSolidFill(kWhite, &white));
        const UniqueSolidFill whiteOwner(white);
        FillRect(painter, white, RectF(0, kMediaHeight, kDesignWidth, kDesignHeight - kMediaHeight));
    } else {
        PaintSlide(painter, page.slideIndex);
    }

    if (!page.failureShown) {
        const RectF track(kTrackLeft, kBarTop, kTrackWidth, kBarHeight);
        FillRoundedRect(painter, track, 4, palette.trackFill);
        OutlineRoundedRect(painter, track, 4, palette.trackOutline, 1.5f);
    }

    const auto rect = [](DesignBox box) { return RectF(box.x, box.y, box.width, box.height); };
    DrawPageText(painter, page.status.c_str(), rect(StatusBox(page.failureShown, page.failureShown && !page.offlineLink.empty())), 16, palette.title, false,
                 PageText::Status);
    if (!page.detail.empty()) {
        DrawPageText(painter, page.detail.c_str(), rect(kDetailBox), 11, palette.subtitle, false, PageText::Detail);
    }
    if (page.failureShown && !page.offlineLink.empty()) PaintLink(painter, page);
    if (ShowsPercentLabel(page.progress, page.failureShown)) {
        DrawPageText(painter, PercentLabel(page.progress).c_str(), RectF(650, 522, 94, 26), 16, palette.subtitle,
                     false, PageText::Percent);
    }
}

// The filled part of the bar, over the track that the layer holds.
void PaintSegment(Painter& painter, const PageState& page) {
    if (page.failureShown) return;
    const Segment segment = ProgressSegment(page.progress, page.sweepPhase);
    if (!segment.Visible()) return;
    const UniqueLineGradient bar = CreateGradient(painter, PointF(segment.left, 0), PointF(segment.right, 0),
                                                  painter.palette.barLeft, painter.palette.barRight);
    FillRoundedRectWith(painter, RectF(segment.left, kBarTop, segment.right - segment.left, kBarHeight), 4, bar.get());
}

// The whole picture selected into `dc` in the page's bottom colour, before the page is drawn:
// the page stops a fraction of a pixel short of the client's bottom edge (745.38 of 746 rows
// at 144 DPI), and no pixel may be left to what the picture held before.
void FillPicture(HDC dc, std::uint32_t argb) {
    RECT box{};
    if (GetClipBox(dc, &box) == ERROR) return;
    const UniqueBrush brush(CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)));
    if (brush) ::FillRect(dc, &box, brush.get());
}

// A graphics object on `dc` set up for the page at `dpi`, drawing only inside `clip`
// (device pixels) when one is given.
UniqueGraphics CreatePageGraphics(HDC dc, unsigned dpi, const RECT* clip) {
    GpGraphics* graphics = nullptr;
    if (GdipCreateFromHDC(dc, &graphics) != Ok) return UniqueGraphics();
    UniqueGraphics owner(graphics);
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHighQuality);
    GdipSetTextRenderingHint(graphics, TextRenderingHintClearTypeGridFit);
    // Set before the scale: a clip is taken in the world units of the moment.
    if (clip != nullptr) {
        GdipSetClipRectI(graphics, clip->left, clip->top, clip->right - clip->left, clip->bottom - clip->top,
                         CombineModeReplace);
    }
    const REAL s = DesignScale(dpi);
    GdipScaleWorldTransform(graphics, s, s, MatrixOrderPrepend);
    return owner;
}

class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintScope() { EndPaint(window_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const { return dc_; }
    const RECT& Update() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace

DibPicture::DibPicture(HDC reference, int width, int height) : dc_(CreateCompatibleDC(reference)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc_ || !bitmap_ || bits == nullptr) return;
    previous_ = SelectObject(dc_.get(), bitmap_.get());
    if (previous_ == nullptr) return;
    bits_ = static_cast<std::uint8_t*>(bits);
    width_ = width;
    height_ = height;
}

DibPicture::~DibPicture() {
    // A bitmap still selected into a context cannot be deleted.
    if (previous_ != nullptr) SelectObject(dc_.get(), previous_);
}

void PageCanvas::Release() {
    layer_.reset();
    back_.reset();
    drawn_.reset();
}

void PageCanvas::Paint(HWND window, const PageState& page, const PagePalette& palette) {
    const PaintScope paint(window);
    if (paint.dc() == nullptr) return;
    RECT client{};
    GetClientRect(window, &client);
    const int width = std::max<int>(client.right - client.left, 1);
    const int height = std::max<int>(client.bottom - client.top, 1);
    if (!layer_ || layer_->Width() != width || layer_->Height() != height) {
        Release();
        layer_ = std::make_unique<DibPicture>(paint.dc(), width, height);
        back_ = std::make_unique<DibPicture>(paint.dc(), width, height);
        if (!*layer_ || !*back_) {
            Release();
            return;
        }
    }

    const unsigned dpi = GetDpiForWindow(window);
    const bool video = palette.pictures && HasVideoFrame();
    PageLayer wanted = LayerOf(page, palette, video, dpi);
    RECT update = paint.Update();
    if (drawn_ != wanted) {
        FillPicture(layer_->dc(), palette.backgroundBottom);
        if (const UniqueGraphics graphics = CreatePageGraphics(layer_->dc(), dpi, nullptr)) {
            Painter painter{graphics.get(), palette};
            PaintLayer(painter, page, video);
        }
        drawn_ = std::move(wanted);
        // The whole page changes with its layer, not just the part this paint was asked for.
        if (!EqualRect(&update, &client)) InvalidateRect(window, nullptr, FALSE);
    }
    IntersectRect(&update, &update, &client);
    if (IsRectEmpty(&update)) return;

    // The frame's rows go straight to the window; the rest comes from the layer through the
    // back buffer, which is written directly: nothing of GDI's may be pending there.
    const PixelRect whole{update.left, update.top, update.right - update.left, update.bottom - update.top};
    UpdateParts parts{{}, {}, whole};
    if (video) {
        const FrameTarget strip = MediaStrip(dpi);
        const UpdateParts divided =
            DivideUpdate(whole, static_cast<int>(strip.width), static_cast<int>(strip.height));
        const PixelRect& frame = divided.frame;
        const auto top = static_cast<std::uint32_t>(frame.y);
        if (frame.width <= 0 || frame.height <= 0 ||
            DrawVideoRows(paint.dc(), top, top + static_cast<std::uint32_t>(frame.height))) {
            parts = divided;
        }
    }
    GdiFlush();
    const PixelRect bar = BarStrip(dpi);
    const RECT barRect{bar.x, bar.y, bar.x + bar.width, bar.y + bar.height};
    for (const PixelRect& part : {parts.beside, parts.below}) {
        if (part.width <= 0 || part.height <= 0) continue;
        const std::size_t offset = static_cast<std::size_t>(part.x) * 4;
        for (int row = part.y; row < part.y + part.height; ++row) {
            std::memcpy(back_->Row(row) + offset, layer_->Row(row) + offset, static_cast<std::size_t>(part.width) * 4);
        }
        const RECT rect{part.x, part.y, part.x + part.width, part.y + part.height};
        RECT segmentClip{};
        if (IntersectRect(&segmentClip, &barRect, &rect)) {
            if (const UniqueGraphics graphics = CreatePageGraphics(back_->dc(), dpi, &segmentClip)) {
                Painter painter{graphics.get(), palette};
                PaintSegment(painter, page);
            }
            GdiFlush();
        }
        BitBlt(paint.dc(), part.x, part.y, part.width, part.height, back_->dc(), part.x, part.y, SRCCOPY);
    }
}

void PaintPage(HDC dc, unsigned dpi, const PageState& page, const PagePalette& palette) {
    FillPicture(dc, palette.backgroundBottom);
    const UniqueGraphics graphics = CreatePageGraphics(dc, dpi, nullptr);
    if (!graphics) return;
    Painter painter{graphics.get(), palette};
    PaintLayer(painter, page, false);
    PaintSegment(painter, page);
}

TextFit MeasureFailureText(PageText which, const std::wstring& text, unsigned dpi, bool linkShown) {
    const UniqueHandle<detail::ClosedBy<HDC, &DeleteDC>> dc(CreateCompatibleDC(nullptr));
    if (!dc) return {};
    const UniqueGraphics graphics = CreatePageGraphics(dc.get(), dpi, nullptr);
    if (!graphics) return {};
    const PagePalette palette = ChoosePalette({}, {});
    Painter painter{graphics.get(), palette};
    return MeasureText(painter, which, text, linkShown);
}

DesignBox MeasureOfflineLink(const std::wstring& text, unsigned dpi) {
    return LinkBox(MeasureFailureText(PageText::Link, text, dpi, true));
}

void DrawRetryButton(const DRAWITEMSTRUCT& item, const PagePalette& palette) {
    wchar_t text[128] = {};
    GetWindowTextW(item.hwndItem, text, static_cast<int>(std::size(text)));
    DrawRetryButton(item.hDC, item.rcItem, item.itemState, text, GetDpiForWindow(item.hwndItem), palette);
}

void DrawRetryButton(HDC dc, const RECT& device, UINT itemState, const wchar_t* text, unsigned dpi,
                     const PagePalette& palette) {
    GpGraphics* graphics = nullptr;
    if (GdipCreateFromHDC(dc, &graphics) != Ok) return;
    const UniqueGraphics graphicsOwner(graphics);
    Painter painter{graphics, palette};
    painter.Check(GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias));
    painter.Check(GdipSetTextRenderingHint(graphics, TextRenderingHintClearTypeGridFit));
    // Clipped to the button, whatever else the context holds.
    painter.Check(GdipSetClipRectI(graphics, device.left, device.top, device.right - device.left,
                                   device.bottom - device.top, CombineModeReplace));
    painter.Check(GdipGraphicsClear(graphics, palette.buttonBackground));
    // The button is drawn in device-independent pixels: no design-space factor here.
    const REAL k = static_cast<REAL>(dpi) / 96.0f;
    painter.Check(GdipTranslateWorldTransform(graphics, static_cast<REAL>(device.left), static_cast<REAL>(device.top),
                                              MatrixOrderPrepend));
    painter.Check(GdipScaleWorldTransform(graphics, k, k, MatrixOrderPrepend));

    const RectF rect(1, 1, static_cast<REAL>(device.right - device.left) / k - 2,
                     static_cast<REAL>(device.bottom - device.top) / k - 2);
    const bool disabled = (itemState & ODS_DISABLED) != 0;
    const bool pressed = !disabled && (itemState & ODS_SELECTED) != 0;
    FillRoundedRect(painter, rect, 8, disabled ? palette.buttonDisabled : pressed ? palette.buttonPressed : palette.button);
    OutlineRoundedRect(painter, rect, 8, palette.buttonOutline, 2);
    DrawPageText(painter, text, rect, 14,
                 disabled ? palette.buttonTextDisabled : pressed ? palette.buttonTextPressed : palette.buttonText, false,
                 PageText::Button);
    if ((itemState & ODS_FOCUS) != 0) {
        const RECT focus{device.left + 5, device.top + 5, std::max<LONG>(device.right - 5, device.left + 5),
                         std::max<LONG>(device.bottom - 5, device.top + 5)};
        DrawFocusRect(dc, &focus);
    }
}

}  // namespace tavro::ui
