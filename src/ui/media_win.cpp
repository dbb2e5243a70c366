#include "ui/media.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <objbase.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/system_library.h"
#include "ui/clip_check.h"
#include "ui/video_frame.h"

namespace tavro {

namespace {

using Microsoft::WRL::ComPtr;

// Neither is declared by the mingw-w64 headers, though mfplat.dll exports both.
using CreateByteStreamOnStreamEx = HRESULT WINAPI(IUnknown*, IMFByteStream**);
using CreateByteStreamOnStream = HRESULT WINAPI(IStream*, IMFByteStream**);

// How long StopVideo waits for the decode thread. A decoder can block for good (under Wine,
// creating a source reader over a clip whose first key frame is cut short never returns);
// waiting longer would only hold the exit.
constexpr auto kDecoderStopWait = std::chrono::milliseconds(2000);
// When the process ends: the window is gone, and a thread ended inside GStreamer (Wine's
// Media Foundation, whose first start in a session takes seconds) can crash the process
// on its way out, after the user's install went well.
constexpr auto kDecoderExitWait = std::chrono::milliseconds(10000);
// 1/24 s in 100-nanosecond units: the frame time when a sample carries none.
constexpr LONGLONG kDefaultFrameTime = 416667;

// Media Foundation, loaded at run time: Windows N editions ship without it, and a program
// importing it at load time would not start there at all.
struct MediaFoundation {
    SystemLibrary platform;
    SystemLibrary readWrite;
    decltype(&MFStartup) startup = nullptr;
    decltype(&MFShutdown) shutdown = nullptr;
    decltype(&MFCreateAttributes) createAttributes = nullptr;
    decltype(&MFCreateMediaType) createMediaType = nullptr;
    decltype(&MFGetStrideForBitmapInfoHeader) strideForBitmapInfoHeader = nullptr;
    CreateByteStreamOnStreamEx* createByteStreamOnStreamEx = nullptr;
    CreateByteStreamOnStream* createByteStreamOnStream = nullptr;
    decltype(&MFCreateSourceReaderFromByteStream) createSourceReader = nullptr;

    // Null when either DLL or any function that decoding cannot do without is missing.
    static std::shared_ptr<MediaFoundation> Load() {
        auto mf = std::make_shared<MediaFoundation>();
        mf->platform = SystemLibrary::Load(L"mfplat.dll");
        mf->readWrite = SystemLibrary::Load(L"mfreadwrite.dll");
        const SystemLibrary& p = mf->platform;
        // Optional: the Ex form is unimplemented on some systems, the stride helper is a fallback.
        p.Resolve(mf->createByteStreamOnStreamEx, "MFCreateMFByteStreamOnStreamEx");
        p.Resolve(mf->strideForBitmapInfoHeader, "MFGetStrideForBitmapInfoHeader");
        const bool complete =
            p.Resolve(mf->startup, "MFStartup") && p.Resolve(mf->shutdown, "MFShutdown") &&
            p.Resolve(mf->createAttributes, "MFCreateAttributes") &&
            p.Resolve(mf->createMediaType, "MFCreateMediaType") &&
            p.Resolve(mf->createByteStreamOnStream, "MFCreateMFByteStreamOnStream") &&
            mf->readWrite.Resolve(mf->createSourceReader, "MFCreateSourceReaderFromByteStream");
        return complete ? mf : nullptr;
    }
};

// What one decode thread shares with the user-interface thread. Each thread has its own, so
// a thread abandoned in a stuck decoder can never touch a later thread's state; it keeps
// Media Foundation loaded for as long as it might still be running inside it.
struct DecodeSession {
    std::shared_ptr<MediaFoundation> mf;
    const BYTE* clip = nullptr;
    DWORD clipSize = 0;
    std::atomic<bool> stop{false};
    std::atomic<HWND> window{nullptr};
    std::mutex waitMutex;
    std::condition_variable wake;
    bool finished = false;  // guarded by waitMutex
};

struct FrameStore {
    std::mutex mutex;
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::shared_ptr<const FrameTarget> madeFor;  // what `pixels` were scaled to
    std::shared_ptr<const FrameTarget> target;   // what the next frames are scaled to; null: their own size
};

struct Slide {
    Gdiplus::GpBitmap* bitmap = nullptr;
    ComPtr<IStream> stream;  // GDI+ reads the image from it lazily: it lives as long as the bitmap
};

struct MediaState {
    ULONG_PTR gdiplusToken = 0;
    std::array<Slide, kSlideCount> slides;
    FrameStore frame;
    std::thread decodeThread;
    std::shared_ptr<DecodeSession> session;
    std::shared_ptr<MediaFoundation> mf;
    bool mfStarted = false;
};

MediaState& State() {
    // Never destroyed: a decode thread left inside a stuck decoder may outlive static
    // destruction, and nothing here needs releasing once the process is ending.
    static MediaState* const state = new MediaState;
    return *state;
}

void FreeSlide(Slide& slide) {
    if (slide.bitmap != nullptr) Gdiplus::DllExports::GdipDisposeImage(slide.bitmap);
    slide.bitmap = nullptr;
    slide.stream.Reset();
}

// The bytes of an RT_RCDATA resource, mapped for the life of the module; false when the
// resource is missing or empty.
bool FindResourceBytes(HINSTANCE instance, int id, const BYTE*& data, DWORD& size) {
    HRSRC info = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL loaded = info != nullptr ? LoadResource(instance, info) : nullptr;
    size = info != nullptr ? SizeofResource(instance, info) : 0;
    data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    return data != nullptr && size != 0;
}

// The clip's frame format as this reader delivers it.
struct DecodedFormat {
    FrameLayout layout = FrameLayout::Rgb32;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::int32_t stride = 0;
    FrameArea picture{};  // the display aperture, or none
};

// The type's minimum display aperture: the part of the decoded frame that holds the picture.
// A decoder that decodes whole macroblocks names it; without one the whole frame is shown.
FrameArea DisplayAperture(IMFMediaType* type) {
    MFVideoArea area{};
    UINT32 size = 0;
    if (FAILED(type->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof(area), &size)) ||
        size != sizeof(area) || area.OffsetX.value < 0 || area.OffsetY.value < 0 || area.Area.cx <= 0 ||
        area.Area.cy <= 0) {
        return {};
    }
    return {static_cast<std::uint32_t>(area.OffsetX.value), static_cast<std::uint32_t>(area.OffsetY.value),
            static_cast<std::uint32_t>(area.Area.cx), static_cast<std::uint32_t>(area.Area.cy)};
}

// Asks for the decoder's own YUV first: NV12, what H.264 decoders (hardware ones included)
// put out, then I420. The thread converts it to BGRX in the pass that scales it anyway,
// while 32-bit RGB would put the reader's video processor in between: a software
// conversion of every full-size frame that is not meant for playback, and that costs a
// newer Wine three times the whole decode. RGB32 is kept for a decoder with no YUV at all.
bool ChooseFormat(const MediaFoundation& mf, IMFSourceReader* reader, DecodedFormat& format) {
    const auto firstVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    const std::pair<const GUID*, FrameLayout> offers[] = {{&MFVideoFormat_NV12, FrameLayout::Nv12},
                                                          {&MFVideoFormat_I420, FrameLayout::I420},
                                                          {&MFVideoFormat_RGB32, FrameLayout::Rgb32}};
    bool accepted = false;
    for (const auto& [subtype, layout] : offers) {
        ComPtr<IMFMediaType> wanted;
        if (FAILED(mf.createMediaType(&wanted)) ||
            FAILED(wanted->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video)) ||
            FAILED(wanted->SetGUID(MF_MT_SUBTYPE, *subtype))) {
            return false;
        }
        if (SUCCEEDED(reader->SetCurrentMediaType(firstVideo, nullptr, wanted.Get()))) {
            format.layout = layout;
            accepted = true;
            break;
        }
    }
    ComPtr<IMFMediaType> current;
    UINT64 frameSize = 0;
    if (!accepted || FAILED(reader->GetCurrentMediaType(firstVideo, &current)) ||
        FAILED(current->GetUINT64(MF_MT_FRAME_SIZE, &frameSize))) {
        return false;
    }
    format.width = static_cast<std::uint32_t>(frameSize >> 32);
    format.height = static_cast<std::uint32_t>(frameSize);
    format.picture = PictureArea(format.width, format.height, DisplayAperture(current.Get()));
    if (format.layout != FrameLayout::Rgb32) {
        // The padded row length is read from each buffer; no media type here states it right.
        format.stride = static_cast<std::int32_t>(format.width);
    } else {
        UINT32 stride = 0;
        if (SUCCEEDED(current->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) {
            format.stride = static_cast<std::int32_t>(stride);
        } else {
            LONG computed = 0;
            if (mf.strideForBitmapInfoHeader == nullptr ||
                FAILED(mf.strideForBitmapInfoHeader(22 /* BI_RGB 32-bit */, format.width, &computed))) {
                return false;
            }
            format.stride = computed;
        }
    }
    return format.width != 0 && format.height != 0 && format.stride != 0;
}

// Scales one sample into `pixels`; `source` holds a copy where the buffer cannot be read in place.
bool ScaleSample(IMFSample* sample, const DecodedFormat& format, const FrameTarget& target,
                 std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& pixels) {
    ComPtr<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return false;
    DecodedFrame frame{format.layout, nullptr, 0, format.width, format.height, format.stride, format.picture};
    ComPtr<IMF2DBuffer> buffer2d;
    if (format.layout == FrameLayout::Rgb32 && SUCCEEDED(buffer.As(&buffer2d))) {
        const std::size_t frameBytes = std::size_t{format.width} * kFrameBytesPerPixel * format.height;
        DWORD length = 0;
        if (FAILED(buffer2d->GetContiguousLength(&length)) || length != frameBytes) return false;
        source.resize(frameBytes);
        if (FAILED(buffer2d->ContiguousCopyTo(source.data(), length))) return false;
        frame.data = source.data();
        frame.length = source.size();
        frame.stride = static_cast<std::int32_t>(format.width * kFrameBytesPerPixel);
        return ScaleFrame(frame, target, pixels);
    }
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length))) return false;
    frame.data = data;
    frame.length = length;
    const bool scaled = ScaleFrame(frame, target, pixels);
    buffer->Unlock();
    return scaled;
}

void InvalidateMediaStrip(HWND window) {
    RECT client{};
    if (window == nullptr || !GetClientRect(window, &client)) return;
    // 480 design units are 418.5 device-independent pixels.
    const int dpi = static_cast<int>(GetDpiForWindow(window));
    RECT strip = client;
    strip.bottom = std::min<LONG>(client.bottom, MulDiv(419, dpi != 0 ? dpi : 96, 96));
    InvalidateRect(window, &strip, FALSE);
}

// The target the next frame is scaled to, or the clip's own size while the window has set none.
std::shared_ptr<const FrameTarget> CurrentTarget(const std::shared_ptr<const FrameTarget>& natural) {
    FrameStore& frame = State().frame;
    std::lock_guard lock(frame.mutex);
    return frame.target ? frame.target : natural;
}

// Publishes a finished frame, unless the session was stopped meanwhile: the check under the
// frame mutex is what keeps a frame from appearing after StopVideo cleared it.
void PublishFrame(const DecodeSession& session, std::shared_ptr<const FrameTarget> madeFor,
                  std::vector<std::uint8_t>& pixels) {
    FrameStore& frame = State().frame;
    std::lock_guard lock(frame.mutex);
    if (session.stop) return;
    frame.pixels.swap(pixels);  // the old buffer comes back to be filled next
    frame.width = madeFor->width;
    frame.height = madeFor->height;
    frame.madeFor = std::move(madeFor);
}

void DecodeLoop(DecodeSession& session) {
    const MediaFoundation& mf = *session.mf;
    ComPtr<IStream> memory;
    memory.Attach(SHCreateMemStream(session.clip, session.clipSize));
    if (!memory) return;
    ComPtr<IMFByteStream> byteStream;
    HRESULT hr = E_NOTIMPL;
    if (mf.createByteStreamOnStreamEx != nullptr) {
        hr = mf.createByteStreamOnStreamEx(memory.Get(), &byteStream);
    }
    if (hr == E_NOTIMPL) hr = mf.createByteStreamOnStream(memory.Get(), &byteStream);
    if (FAILED(hr)) return;

    ComPtr<IMFAttributes> attributes;
    if (FAILED(mf.createAttributes(&attributes, 2)) ||
        FAILED(attributes->SetUINT32(MF_SOURCE_READER_ENABLE_VIDEO_PROCESSING, TRUE)) ||
        FAILED(attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, TRUE))) {
        return;
    }
    ComPtr<IMFSourceReader> reader;
    if (FAILED(mf.createSourceReader(byteStream.Get(), attributes.Get(), &reader))) return;
    const auto firstVideo = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    if (FAILED(reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE)) ||
        FAILED(reader->SetStreamSelection(firstVideo, TRUE))) {
        return;
    }
    DecodedFormat format;
    if (!ChooseFormat(mf, reader.Get(), format)) return;

    const auto natural = std::make_shared<const FrameTarget>(NaturalSize(format.picture.width, format.picture.height));
    std::vector<std::uint8_t> source;
    std::vector<std::uint8_t> pixels;
    // A clip that reaches its end without giving a single frame would otherwise be rewound
    // and re-read for ever, burning a core while the slides show.
    bool frameSinceRewind = false;
    while (!session.stop) {
        DWORD flags = 0;
        LONGLONG timestamp = 0;
        ComPtr<IMFSample> sample;
        if (FAILED(reader->ReadSample(firstVideo, 0, nullptr, &flags, &timestamp, &sample))) return;
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) {
            if (!frameSinceRewind) return;
            frameSinceRewind = false;
            PROPVARIANT start{};
            start.vt = VT_I8;
            start.hVal.QuadPart = 0;
            if (FAILED(reader->SetCurrentPosition(GUID_NULL, start))) return;
            continue;
        }
        if (!sample) continue;
        // Scaled here, once, so that painting a frame is a copy.
        std::shared_ptr<const FrameTarget> target = CurrentTarget(natural);
        if (!ScaleSample(sample.Get(), format, *target, source, pixels)) return;
        frameSinceRewind = true;
        PublishFrame(session, std::move(target), pixels);
        InvalidateMediaStrip(session.window.load());

        LONGLONG duration = 0;
        if (FAILED(sample->GetSampleDuration(&duration)) || duration < 1) duration = kDefaultFrameTime;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(duration * 100);
        std::unique_lock lock(session.waitMutex);
        session.wake.wait_until(lock, deadline, [&] { return session.stop.load(); });
    }
}

void DecodeVideo(std::shared_ptr<DecodeSession> session) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DecodeLoop(*session);
    if (SUCCEEDED(com)) CoUninitialize();
    {
        std::lock_guard lock(session->waitMutex);
        session->finished = true;
    }
    session->wake.notify_all();
}

void StopDecoder(std::chrono::milliseconds patience) {
    MediaState& state = State();
    bool abandoned = false;
    if (auto session = std::exchange(state.session, nullptr)) {
        session->window = nullptr;
        std::unique_lock lock(session->waitMutex);
        session->stop = true;
        session->wake.notify_all();
        const bool ended = session->wake.wait_for(lock, patience, [&] { return session->finished; });
        lock.unlock();
        if (ended) {
            state.decodeThread.join();
        } else {
            // Stuck inside Media Foundation: let it end with the process. Its session and
            // the loaded DLLs stay alive through its own references.
            state.decodeThread.detach();
            abandoned = true;
        }
    }
    {
        std::lock_guard lock(state.frame.mutex);
        state.frame.pixels.clear();
        state.frame.width = 0;
        state.frame.height = 0;
        state.frame.madeFor.reset();
    }
    if (state.mfStarted) {
        // Shutting down under a thread still inside the pipeline could block just the same.
        if (!abandoned) state.mf->shutdown();
        state.mfStarted = false;
    }
}

}  // namespace

bool InitializeMedia(HINSTANCE instance) {
    MediaState& state = State();
    Gdiplus::GdiplusStartupInput input;  // version 1, everything else zero
    if (state.gdiplusToken == 0 && Gdiplus::GdiplusStartup(&state.gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
        state.gdiplusToken = 0;
        return false;
    }
    for (int i = 0; i < kSlideCount; ++i) {
        Slide& slide = state.slides[i];
        FreeSlide(slide);
        const BYTE* data = nullptr;
        DWORD size = 0;
        if (FindResourceBytes(instance, kFirstSlideResource + i, data, size)) {
            slide.stream.Attach(SHCreateMemStream(data, size));
        }
        if (!slide.stream ||
            Gdiplus::DllExports::GdipCreateBitmapFromStream(slide.stream.Get(), &slide.bitmap) != Gdiplus::Ok) {
            slide.bitmap = nullptr;
            CloseMedia();
            return false;
        }
    }
    return true;
}

bool StartVideo(HINSTANCE instance, HWND window, int clipId) {
    StopVideo();
    MediaState& state = State();
    const BYTE* clip = nullptr;
    DWORD clipSize = 0;
    if (!FindResourceBytes(instance, clipId, clip, clipSize)) return false;
    if (!FirstSamplesPresent(clip, clipSize)) return false;

    // Loaded once and kept: a missing Media Foundation counts as a failed start-up.
    if (!state.mf) state.mf = MediaFoundation::Load();
    if (!state.mf || FAILED(state.mf->startup(MF_VERSION, MFSTARTUP_FULL))) return false;
    state.mfStarted = true;

    auto session = std::make_shared<DecodeSession>();
    session->mf = state.mf;
    session->clip = clip;
    session->clipSize = clipSize;
    session->window = window;
    try {
        state.decodeThread = std::thread(DecodeVideo, session);
    } catch (const std::system_error&) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    state.session = std::move(session);
    return true;
}


void SetVideoTarget(const FrameTarget& target) {
    FrameStore& frame = State().frame;
    std::lock_guard lock(frame.mutex);
    if (!frame.target || *frame.target != target) frame.target = std::make_shared<const FrameTarget>(target);
}

bool HasVideoFrame() {
    FrameStore& frame = State().frame;
    std::lock_guard lock(frame.mutex);
    return !frame.pixels.empty();
}

bool DrawVideoRows(HDC dc, std::uint32_t top, std::uint32_t bottom) {
    FrameStore& frame = State().frame;
    std::lock_guard lock(frame.mutex);
    if (frame.pixels.empty()) return false;
    if (frame.target && frame.madeFor != frame.target) {
        // Made for another DPI (a stopped decoder shows its last frame for good): the frame
        // spans the same media rectangle at the new scale, with any fade already in it.
        const FrameTarget& from = *frame.madeFor;
        FrameTarget to = *frame.target;
        to.imageWidth = static_cast<float>(from.width) * to.imageWidth / from.imageWidth;
        to.imageHeight = static_cast<float>(from.height) * to.imageHeight / from.imageHeight;
        if (!from.white.empty()) to.white.clear();
        std::vector<std::uint8_t> scaled;
        const DecodedFrame current{FrameLayout::Rgb32, frame.pixels.data(), frame.pixels.size(), frame.width,
                                   frame.height, static_cast<std::int32_t>(frame.width * kFrameBytesPerPixel)};
        if (!ScaleFrame(current, to, scaled)) return false;
        frame.pixels.swap(scaled);
        frame.width = to.width;
        frame.height = to.height;
        frame.madeFor = frame.target;
    }
    bottom = std::min(bottom, frame.height);
    if (top >= bottom) return true;
    // Straight from the shared buffer, which is why the mutex stays held.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(frame.width);
    info.bmiHeader.biHeight = -static_cast<LONG>(bottom - top);  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const DWORD rows = bottom - top;
    return SetDIBitsToDevice(dc, 0, static_cast<int>(top), frame.width, rows, 0, 0, 0, rows,
                             frame.pixels.data() + std::size_t{frame.width} * kFrameBytesPerPixel * top, &info,
                             DIB_RGB_COLORS) == static_cast<int>(rows);
}

Gdiplus::GpBitmap* SlideImage(int index) {
    if (index < 0 || index >= kSlideCount) return nullptr;
    return State().slides[static_cast<std::size_t>(index)].bitmap;
}

void StopVideo() {
    StopDecoder(kDecoderStopWait);
}

void CloseMedia() {
    StopDecoder(kDecoderExitWait);
    MediaState& state = State();
    {
        std::lock_guard lock(state.frame.mutex);
        state.frame.target.reset();
    }
    for (Slide& slide : state.slides) FreeSlide(slide);
    if (state.gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(state.gdiplusToken);
        state.gdiplusToken = 0;
    }
}

}  // namespace tavro
