#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

// True when every track of an MP4 clip has its first sample wholly inside `size` bytes, as
// its index (stsz and stco or co64) places it; false when the index is missing or unreadable.
// Media Foundation under Wine never returns from creating a source reader over a clip whose
// first key frame is cut short, and its stuck pipeline then crashes the process at exit;
// such a clip is refused before it reaches the decoder. Later truncation is left to it.
bool FirstSamplesPresent(const std::uint8_t* clip, std::size_t size);

}  // namespace tavro
