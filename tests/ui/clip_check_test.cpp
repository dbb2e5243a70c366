#include "ui/clip_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tavro {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(std::uint8_t(value >> (8 * i)));
}

Bytes MakeBox(const char* type, const Bytes& body) {
    Bytes out;
    Put(out, body.size() + 8, 4);
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Track {
    std::uint32_t firstSize;
    std::uint32_t commonSize;  // non-zero: every sample this size
    bool co64;
    std::uint32_t count = 3;
};

// ftyp, moov with the given tracks, then mdat; each track's first chunk starts at
// `firstOffsets[i]` bytes into the media data.
Bytes MakeClip(const std::vector<Track>& tracks, const std::vector<std::uint32_t>& firstOffsets,
               std::size_t mediaBytes) {
    const Bytes ftyp = MakeBox("ftyp", Bytes{'i', 's', 'o', 'm', 0, 0, 2, 0});
    // Two passes: the moov size does not depend on the offsets' values.
    std::size_t mediaStart = 0;
    Bytes moov;
    for (int pass = 0; pass < 2; ++pass) {
        Bytes traks;
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            const Track& t = tracks[i];
            Bytes stsz;
            Put(stsz, 0, 4);
            Put(stsz, t.commonSize, 4);
            Put(stsz, t.count, 4);
            if (t.commonSize == 0 && t.count > 0) Put(stsz, t.firstSize, 4);
            Bytes chunk;
            Put(chunk, 0, 4);
            Put(chunk, 1, 4);
            Put(chunk, mediaStart + firstOffsets[i], t.co64 ? 8 : 4);
            const Bytes stbl = MakeBox("stbl", Cat({MakeBox("stsz", stsz), MakeBox(t.co64 ? "co64" : "stco", chunk)}));
            traks = Cat({traks, MakeBox("trak", MakeBox("mdia", MakeBox("minf", stbl)))});
        }
        moov = MakeBox("moov", traks);
        mediaStart = ftyp.size() + moov.size() + 8;
    }
    return Cat({ftyp, moov, MakeBox("mdat", Bytes(mediaBytes, 0x11))});
}

TEST(ClipCheck, RefusesOnlyClipsWhoseFirstSampleIsCutShort) {
    const Bytes oneTrack = MakeClip({{1000, 0, false}}, {0}, 5000);
    const std::size_t mediaStart = oneTrack.size() - 5000;
    const Bytes wide = MakeClip({{0, 1000, true}}, {0}, 5000);
    const Bytes twoTracks = MakeClip({{100, 0, false}, {400, 0, false}}, {0, 4600}, 5000);
    const Bytes emptyTrack = MakeClip({{0, 0, false, 0}}, {0}, 0);
    struct Case {
        const char* name;
        const Bytes& clip;
        std::size_t length;
        bool expected;
    } cases[] = {
        {"whole clip", oneTrack, oneTrack.size(), true},
        {"cut after the first sample", oneTrack, mediaStart + 1000, true},
        {"cut one byte into the first sample's end", oneTrack, mediaStart + 999, false},
        {"cut at the media data's header", oneTrack, mediaStart - 4, false},
        {"cut inside the index", oneTrack, 40, false},
        {"64-bit offsets, one common sample size", wide, wide.size(), true},
        {"64-bit offsets, cut short", wide, wide.size() - 4500, false},
        {"second track's first sample cut short", twoTracks, twoTracks.size() - 1, false},
        {"every track whole", twoTracks, twoTracks.size(), true},
        {"a track without samples", emptyTrack, emptyTrack.size(), true},
        {"no index at all", oneTrack, 16, false},
        {"empty", oneTrack, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FirstSamplesPresent(c.clip.data(), c.length), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tavro
