#include "ui/media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "ui/page_layout.h"
#include "ui/page_painter.h"

namespace tavro {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Test clips in this program's resources: a 48-frame (2 s) English clip and damaged copies.
constexpr int kShortClip = 901, kFirstKeyFrameCut = 902, kNoSampleData = 903, kTruncatedClip = 904;
constexpr int kWidth = 1168, kHeight = 720;
// Where the artwork script puts things, in clip pixels (its 1170 columns less the first and
// the last): each scene's slide picture, scaled by 0.8, at x 609, y 150 (the card); the first
// title line starting at x 71 in both languages, where the English "Stay in the" of the
// first scene reaches x 359 and the Japanese one ends at x 240.
constexpr int kCardX = 609, kCardY = 150;
constexpr RECT kTitleStart{80, 210, 230, 236}, kEnglishTitleOnly{260, 210, 346, 241};

int Difference(std::uint32_t a, std::uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16}) most = std::max(most, std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)));
    return most;
}

// The scene whose slide picture the card shows in a frame scaled by `scale`, judged on a grid
// inside the picture's rounded corners: the slide within a mean of 12 levels (16 once scaled
// down, which blurs), or -1 (mid-fade, no picture).
int SceneOf(const std::function<std::uint32_t(int, int)>& at, double scale) {
    const int tolerance = scale < 1.0 ? 16 : 12;
    for (int i = 0; i < kSlideCount; ++i) {
        int error = 0, samples = 0;
        for (int y = 40; y < 460; y += 20) {
            for (int x = 40; x < 590; x += 20, ++samples) {
                Gdiplus::ARGB slide = 0;
                Gdiplus::DllExports::GdipBitmapGetPixel(SlideImage(i), x, y, &slide);
                error += Difference(at(int((kCardX + x * 4 / 5) * scale), int((kCardY + y * 4 / 5) * scale)), slide);
            }
        }
        if (error < tolerance * samples) return i;
    }
    return -1;
}

// What DrawVideoRows paints into a clip-sized picture: the one way these tests look.
struct Capture {
    bool drawn = false;
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(std::size_t(kWidth) * kHeight);

    std::uint32_t At(int x, int y) const { return pixels[std::size_t(y) * kWidth + x] & 0xFFFFFF; }

    // Title ink: pixels dark in every channel, as no backdrop or picture part of the clip is.
    int Ink(const RECT& r) const {
        int ink = 0;
        for (int y = r.top; y < r.bottom; ++y) {
            for (int x = r.left; x < r.right; ++x) ink += Difference(At(x, y), 0) < 140;
        }
        return ink;
    }

    int Scene() const {
        return SceneOf([this](int x, int y) { return At(x, y); }, 1.0);
    }

    // Pixels that differ from `other` by more than 4 levels, as compression noise does not.
    int Changed(const Capture& other) const {
        int changed = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) changed += Difference(pixels[i], other.pixels[i]) > 4;
        return changed;
    }
};

Capture CaptureFrame() {
    Capture capture;
    const HDC screen = GetDC(nullptr);
    const ui::DibPicture picture(screen, kWidth, kHeight);
    ReleaseDC(nullptr, screen);
    EXPECT_TRUE(picture);
    capture.drawn = DrawVideoRows(picture.dc(), 0, kHeight);
    GdiFlush();
    for (int y = 0; y < kHeight; ++y) std::memcpy(&capture.pixels[std::size_t(y) * kWidth], picture.Row(y), kWidth * 4);
    return capture;
}

// Captures until `done` holds or `limit` passes; the last capture either way.
template <class Done>
Capture CaptureUntil(Done done, Clock::duration limit = 10s) {
    const auto end = Clock::now() + limit;
    Capture capture = CaptureFrame();
    while (!done(capture) && Clock::now() < end) {
        std::this_thread::sleep_for(40ms);
        capture = CaptureFrame();
    }
    return capture;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

HINSTANCE Self() { return GetModuleHandleW(nullptr); }
const auto kDrawn = [](const Capture& c) { return c.drawn; };

class Media : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitializeMedia(Self())); }
    void TearDown() override { CloseMedia(); }
};

TEST_F(Media, ShippedClipsPlayTheirOwnPicturesIntoTheMediaStrip) {
    for (auto [clip, english] : {std::pair{kClipResource, true}, std::pair{kJapaneseClipResource, false}}) {
        SCOPED_TRACE(clip);
        // A 680 x 497 client at 96 DPI: each frame repaints its top 419 rows.
        HWND window = CreateWindowExW(0, L"STATIC", L"media", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 686, 522,
                                      nullptr, nullptr, Self(), nullptr);
        ValidateRect(window, nullptr);
        ASSERT_TRUE(StartVideo(Self(), window, clip));
        const Capture first = CaptureUntil(kDrawn);
        ASSERT_TRUE(first.drawn);
        // The clip opens on the whole first scene, titled in its own language.
        EXPECT_EQ(first.Scene(), 0);
        EXPECT_GT(first.Ink(kTitleStart), 500);
        if (english) {
            EXPECT_GT(first.Ink(kEnglishTitleOnly), 300);
        } else {
            EXPECT_EQ(first.Ink(kEnglishTitleOnly), 0);
        }
        RECT client{}, update{};
        GetClientRect(window, &client);
        ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
        EXPECT_TRUE(update.top == 0 && update.right == client.right && update.bottom == std::min<LONG>(client.bottom, 419));

        // The glows drift all the time: a second later about 10,000 pixels have changed, where a
        // frozen picture changes none. The decode thread's cost is read meanwhile, with
        // nothing else running in this process.
        const double cpuBefore = ProcessCpuSeconds();
        std::this_thread::sleep_for(1s);
        std::printf("clip %d: this process used %.0f %% of one core while it played\n", clip,
                    (ProcessCpuSeconds() - cpuBefore) * 100);
        const Capture later = CaptureFrame();
        EXPECT_TRUE(later.drawn && later.Scene() == 0);
        EXPECT_GT(later.Changed(first), 3000);

        StopVideo();
        EXPECT_FALSE(CaptureFrame().drawn) << "the frame is cleared on stop";
        DestroyWindow(window);
    }
}

TEST_F(Media, ClipKeepsItsPaceAndStartsAgainAfterItsLastFrame) {
    // The short clip's three scenes last 16 frames each: the third begins after 32 frames,
    // 1.33 s at 24 frames a second.
    ASSERT_TRUE(StartVideo(Self(), nullptr, kShortClip));
    ASSERT_EQ(CaptureUntil(kDrawn).Scene(), 0);
    const auto start = Clock::now();
    ASSERT_EQ(CaptureUntil([](const Capture& c) { return c.Scene() == 2; }, 6s).Scene(), 2);
    const auto thirdScene = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(thirdScene > 0.65 && thirdScene < 3.5) << thirdScene << " s";
    EXPECT_EQ(CaptureUntil([](const Capture& c) { return c.Scene() == 0; }, 4s).Scene(), 0);
}

TEST_F(Media, DamagedClipsLeaveTheSlidesOrTheLastFrameAndNeverHoldTheStop) {
    struct Case {
        const char* name;
        int clip;
        bool starts;
        bool framesExpected;
    } cases[] = {
        // Refused before Media Foundation sees it: there it would never return.
        {"first key frame cut short", kFirstKeyFrameCut, false, false},
        {"no sample data", kNoSampleData, true, false},
        {"truncated halfway", kTruncatedClip, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StartVideo(Self(), nullptr, c.clip), c.starts);
        std::this_thread::sleep_for(500ms);
        const double cpuBefore = ProcessCpuSeconds();
        std::this_thread::sleep_for(2500ms);  // past the clip's end
        EXPECT_EQ(CaptureFrame().drawn, c.framesExpected);
        if (!c.framesExpected) {
            EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 1.0) << "no re-reading in a loop";
        }
        const auto stopStart = Clock::now();
        StopVideo();
        EXPECT_LT(Clock::now() - stopStart, 3500ms);
        EXPECT_FALSE(CaptureFrame().drawn);
    }
    ASSERT_TRUE(StartVideo(Self(), nullptr, kShortClip));
    EXPECT_TRUE(CaptureUntil(kDrawn).drawn) << "a good clip plays again afterwards";
}

TEST(MediaSlides, AllThreeSlidesOrNothing) {
    ASSERT_TRUE(InitializeMedia(Self()));
    for (int i = 0; i < kSlideCount; ++i) {
        UINT width = 0, height = 0;
        ASSERT_NE(SlideImage(i), nullptr) << i;
        Gdiplus::DllExports::GdipGetImageWidth(SlideImage(i), &width);
        Gdiplus::DllExports::GdipGetImageHeight(SlideImage(i), &height);
        EXPECT_TRUE(width == 620 && height == 492) << i;
    }
    EXPECT_EQ(SlideImage(-1), nullptr);
    EXPECT_EQ(SlideImage(kSlideCount), nullptr);
    CloseMedia();
    CloseMedia();
    EXPECT_EQ(SlideImage(0), nullptr);

    HMODULE twoSlides = LoadLibraryExW(TAVRO_TWO_SLIDES_MODULE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(twoSlides, nullptr);
    EXPECT_FALSE(InitializeMedia(reinterpret_cast<HINSTANCE>(twoSlides)));
    EXPECT_EQ(SlideImage(0), nullptr) << "a failed start leaves nothing loaded";
    FreeLibrary(twoSlides);
    EXPECT_TRUE(InitializeMedia(Self())) << "and can be tried again";
    CloseMedia();
}

// The window's strip: frames come scaled to it and faded into white at the bottom, and the
// frame that a stopped decoder leaves is scaled again when the window's DPI changes.
TEST_F(Media, FramesComeScaledToTheStripAndAgainForANewDpi) {
    SetVideoTarget(ui::MediaStrip(144));
    ASSERT_TRUE(StartVideo(Self(), nullptr, kTruncatedClip));
    std::this_thread::sleep_for(3s);  // past the clip's end: its last frame stays
    for (auto [dpi, width, rows] : {std::tuple{144, 1020, 628}, std::tuple{96, 680, 419}}) {
        SCOPED_TRACE(dpi);
        SetVideoTarget(ui::MediaStrip(dpi));
        const HDC screen = GetDC(nullptr);
        const ui::DibPicture picture(screen, 1400, 900);  // all zero: black where nothing is drawn
        ReleaseDC(nullptr, screen);
        ASSERT_TRUE(picture);
        EXPECT_TRUE(DrawVideoRows(picture.dc(), 0, 900));
        GdiFlush();
        const auto at = [&](int x, int y) {
            std::uint32_t pixel;
            std::memcpy(&pixel, picture.Row(y) + 4 * x, 4);
            return pixel & 0xFFFFFF;
        };
        EXPECT_NE(SceneOf(at, double(width) / kWidth), -1) << "the card's picture where the scaled frame puts it";
        EXPECT_EQ(at(width / 2, rows - 1), 0xFFFFFFu) << "white at the bottom";
        EXPECT_EQ(at(width / 2, rows), 0u) << "nothing below the strip";
        EXPECT_EQ(at(width, 0), 0u) << "nor right of it";
    }
}

// Run with Media Foundation's DLLs disabled, as on Windows N editions.
TEST_F(Media, WithoutMediaFoundationTheSlidesShow) {
    ASSERT_EQ(LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr) << "needs mfplat disabled";
    EXPECT_FALSE(StartVideo(Self(), nullptr, kClipResource));
    EXPECT_FALSE(CaptureFrame().drawn);
    EXPECT_NE(SlideImage(0), nullptr);
}

}  // namespace
}  // namespace tavro
