#include "ui/media.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace tavro {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Test-only clips in this program's resources, made from a 48-frame (2 s) English clip.
constexpr int kShortClip = 901;
constexpr int kFirstKeyFrameCut = 902;
constexpr int kNoSampleData = 903;
constexpr int kTruncatedClip = 904;

constexpr int kClipWidth = 1170;
constexpr int kClipHeight = 720;
// What the artwork script puts where: the language mark's fill left of its text, and the
// time line along the top edge that grows by 1170 / frames pixels a frame.
constexpr int kMarkX = 1008, kMarkY = 60;
constexpr std::uint32_t kEnglishMark = 0x6E4DE8;
constexpr std::uint32_t kJapaneseMark = 0x0A84FF;
constexpr std::uint32_t kTimeLine = 0x6E4DE8;

bool Near(std::uint32_t pixel, std::uint32_t rgb, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((pixel >> shift) & 0xFF) - int((rgb >> shift) & 0xFF)) > tolerance) return false;
    }
    return true;
}

// What DrawVideoFrame paints into a clip-sized picture: the one way these tests look.
struct Capture {
    bool drawn = false;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top-down

    std::uint32_t At(int x, int y) const { return pixels[std::size_t(y) * kClipWidth + x] & 0xFFFFFF; }
    // Length in pixels of the time line: the purple run along row 2 from the left edge.
    int TimeLine() const {
        int x = 0;
        while (x < kClipWidth && Near(At(x, 2), kTimeLine, 48)) ++x;
        return x;
    }
};

Capture CaptureFrame() {
    using namespace Gdiplus::DllExports;
    Capture capture;
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::GpGraphics* graphics = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(kClipWidth, kClipHeight, 0, PixelFormat32bppRGB, nullptr, &bitmap), Gdiplus::Ok);
    EXPECT_EQ(GdipGetImageGraphicsContext(bitmap, &graphics), Gdiplus::Ok);
    GdipSetPageUnit(graphics, Gdiplus::UnitPixel);
    capture.drawn = DrawVideoFrame(graphics, Gdiplus::RectF(0, 0, kClipWidth, kClipHeight));
    GdipDeleteGraphics(graphics);
    Gdiplus::BitmapData data{};
    Gdiplus::GpRect whole(0, 0, kClipWidth, kClipHeight);
    if (GdipBitmapLockBits(bitmap, &whole, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &data) == Gdiplus::Ok) {
        capture.pixels.resize(std::size_t(kClipWidth) * kClipHeight);
        for (int y = 0; y < kClipHeight; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(data.Scan0) + std::ptrdiff_t(y) * data.Stride;
            std::memcpy(&capture.pixels[std::size_t(y) * kClipWidth], row, kClipWidth * 4);
        }
        GdipBitmapUnlockBits(bitmap, &data);
    }
    GdipDisposeImage(bitmap);
    return capture;
}

// Captures until `done` holds or `limit` passes; the last capture either way.
template <class Done>
Capture CaptureUntil(Done done, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    Capture capture = CaptureFrame();
    while (!done(capture) && Clock::now() < end) {
        std::this_thread::sleep_for(40ms);
        capture = CaptureFrame();
    }
    return capture;
}

Capture FirstFrame() {
    return CaptureUntil([](const Capture& c) { return c.drawn; }, 10s);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7; };
    return seconds(kernel) + seconds(user);
}

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

class Media : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InitializeMedia(Self())); }
    void TearDown() override { CloseMedia(); }
};

TEST_F(Media, ShippedClipsPlayTheirOwnPicturesIntoTheMediaStrip) {
    struct Case {
        int clip;
        std::uint32_t mark;
    } cases[] = {{kClipResource, kEnglishMark}, {kJapaneseClipResource, kJapaneseMark}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip);
        // 680 x 497 client at 96 DPI: the strip to repaint is the top 419 rows.
        HWND window = CreateWindowExW(0, L"STATIC", L"media", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 686, 522,
                                      nullptr, nullptr, Self(), nullptr);
        ASSERT_NE(window, nullptr);
        ValidateRect(window, nullptr);
        ASSERT_TRUE(StartVideo(Self(), window, c.clip));
        const Capture first = FirstFrame();
        ASSERT_TRUE(first.drawn);
        EXPECT_TRUE(Near(first.At(kMarkX, kMarkY), c.mark, 24)) << std::hex << first.At(kMarkX, kMarkY);
        EXPECT_FALSE(Near(first.At(kMarkX, kMarkY), c.mark == kEnglishMark ? kJapaneseMark : kEnglishMark, 24));
        RECT client{}, update{};
        GetClientRect(window, &client);
        ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
        EXPECT_EQ(update.top, 0);
        EXPECT_EQ(update.right, client.right);
        EXPECT_EQ(update.bottom, std::min<LONG>(client.bottom, 419));

        // Decoding goes on at the clip's own pace: about 24 frames, 39 pixels of time line, a second.
        std::this_thread::sleep_for(1s);
        const Capture later = CaptureFrame();
        ASSERT_TRUE(later.drawn);
        const int grown = later.TimeLine() - first.TimeLine();
        EXPECT_GE(grown, 15) << first.TimeLine() << " -> " << later.TimeLine();
        EXPECT_LE(grown, 80) << first.TimeLine() << " -> " << later.TimeLine();

        StopVideo();
        EXPECT_FALSE(CaptureFrame().drawn) << "the frame is cleared on stop";
        DestroyWindow(window);
    }
}

TEST_F(Media, ClipStartsAgainAfterItsLastFrame) {
    ASSERT_TRUE(StartVideo(Self(), nullptr, kShortClip));
    const int nearEnd = kClipWidth * 8 / 10;
    const Capture end = CaptureUntil([&](const Capture& c) { return c.TimeLine() >= nearEnd; }, 6s);
    ASSERT_GE(end.TimeLine(), nearEnd);
    const Capture again = CaptureUntil([&](const Capture& c) { return c.drawn && c.TimeLine() < kClipWidth / 4; }, 4s);
    EXPECT_TRUE(again.drawn);
    EXPECT_LT(again.TimeLine(), kClipWidth / 4) << "the short clip should have wrapped round";
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
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        EXPECT_EQ(CaptureFrame().drawn, c.framesExpected);
        if (!c.framesExpected) {
            EXPECT_LT(cpu, 1.0) << "a clip without frames must not be re-read in a loop";
        }
        const auto stopStart = Clock::now();
        StopVideo();
        EXPECT_LT(Clock::now() - stopStart, 3500ms);
        EXPECT_FALSE(CaptureFrame().drawn);
    }
    ASSERT_TRUE(StartVideo(Self(), nullptr, kShortClip));
    EXPECT_TRUE(FirstFrame().drawn);
}

TEST_F(Media, DecodeThreadShareOfOneCore) {
    ASSERT_TRUE(StartVideo(Self(), nullptr, kClipResource));
    ASSERT_TRUE(FirstFrame().drawn);
    const double before = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(3s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double share = (ProcessCpuSeconds() - before) / seconds;
    std::printf("decode thread: %.0f %% of one core while the clip plays\n", share * 100);
    EXPECT_LT(share, 0.9) << "decoding 24 frames a second should leave most of a core free";
}

TEST(MediaSlides, AllThreeSlidesOrNothing) {
    ASSERT_TRUE(InitializeMedia(Self()));
    for (int i = 0; i < kSlideCount; ++i) {
        Gdiplus::GpBitmap* slide = SlideImage(i);
        ASSERT_NE(slide, nullptr) << i;
        UINT width = 0, height = 0;
        Gdiplus::DllExports::GdipGetImageWidth(slide, &width);
        Gdiplus::DllExports::GdipGetImageHeight(slide, &height);
        EXPECT_EQ(width, 620u);
        EXPECT_EQ(height, 492u);
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

// Run with Media Foundation's DLLs disabled, as on Windows N editions.
TEST_F(Media, WithoutMediaFoundationTheSlidesShow) {
    ASSERT_EQ(LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), nullptr)
        << "this case needs mfplat.dll disabled";
    EXPECT_FALSE(StartVideo(Self(), nullptr, kClipResource));
    EXPECT_FALSE(CaptureFrame().drawn);
    EXPECT_NE(SlideImage(0), nullptr);
    StopVideo();
}

}  // namespace
}  // namespace tavro
