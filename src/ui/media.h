#pragma once

#include <windows.h>
#include <objidl.h>  // before gdiplus.h: WIN32_LEAN_AND_MEAN leaves out what it needs
#include <gdiplus.h>

#include <cstddef>
#include <cstdint>

#include "ui/video_frame.h"

namespace tavro {

// Resource ids (RT_RCDATA) of the slide images 0, 1, 2 and of the two clips.
inline constexpr int kFirstSlideResource = 201;
inline constexpr int kSlideCount = 3;
inline constexpr int kClipResource = 401;
inline constexpr int kJapaneseClipResource = 402;

// Starts GDI+ for the whole user interface and loads the three slides from `instance`.
// False, after undoing everything, when GDI+ or any one slide fails.
bool InitializeMedia(HINSTANCE instance);

// Stops any playing clip, then decodes clip `clipId` of `instance` on a thread of its own,
// invalidating the media strip of `window` (may be null) for every new frame.
// False when the clip or Media Foundation is missing: the page shows the slides instead.
// Throws std::system_error when the decode thread cannot be created.
bool StartVideo(HINSTANCE instance, HWND window, int clipId);

// Ends the decode thread and clears the frame. A decoder stuck inside Media Foundation is
// waited for only briefly and then left to end with the process, so exit is never held.
void StopVideo();

// What each decoded frame is scaled to from now on (the window's media strip at its DPI);
// until it is set, frames keep the clip's own size. Any thread.
void SetVideoTarget(const FrameTarget& target);

// Whether a decoded frame is there to show. User-interface thread only.
bool HasVideoFrame();

// Draws rows [top, bottom) of the latest frame, scaled for the current target, into `dc`
// at the same rows from its left edge; rows past the frame are left alone. A frame made for
// an earlier target (the DPI changed since) is scaled again first. False when there is no
// frame or drawing failed. User-interface thread only.
bool DrawVideoRows(HDC dc, std::uint32_t top, std::uint32_t bottom);

// The bitmap of slide 0, 1 or 2 (620 x 492 pixels); null for any other index or before
// InitializeMedia. Owned by the media state until CloseMedia.
Gdiplus::GpBitmap* SlideImage(int index);

// StopVideo, with more patience for the decoder (the process is ending), forgets the target,
// frees the slides and shuts GDI+ down; safe to call more than once.
void CloseMedia();

}  // namespace tavro
