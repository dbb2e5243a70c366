#include "ui/clip_check.h"

#include <optional>

namespace tavro {

namespace {

struct Box {
    std::uint32_t type;
    std::size_t body;  // offset of the contents
    std::size_t end;   // offset just past the box, never beyond the enclosing range
    bool complete;     // the box's declared size fits in the enclosing range
};

constexpr std::uint32_t Tag(const char (&t)[5]) {
    return std::uint32_t(std::uint8_t(t[0])) << 24 | std::uint32_t(std::uint8_t(t[1])) << 16 |
           std::uint32_t(std::uint8_t(t[2])) << 8 | std::uint32_t(std::uint8_t(t[3]));
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::optional<std::uint64_t> Read(std::size_t at, int bytes) const {
        if (at > size_ || std::size_t(bytes) > size_ - at) return std::nullopt;
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | data_[at + i];
        return value;
    }

    // The box starting at `at` inside [.., end); nothing when even its header is cut off.
    std::optional<Box> BoxAt(std::size_t at, std::size_t end) const {
        const auto size32 = Read(at, 4);
        const auto type = Read(at + 4, 4);
        if (!size32 || !type || at + 8 > end) return std::nullopt;
        std::uint64_t size = *size32;
        std::size_t header = 8;
        if (size == 1) {
            const auto size64 = Read(at + 8, 8);
            if (!size64) return std::nullopt;
            size = *size64;
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header) return std::nullopt;
        const bool complete = size <= end - at;
        return Box{std::uint32_t(*type), at + header, complete ? at + std::size_t(size) : end, complete};
    }

    // The first complete child of type `type` inside [begin, end).
    std::optional<Box> Child(std::size_t begin, std::size_t end, std::uint32_t type) const {
        for (std::size_t at = begin; at < end;) {
            const auto box = BoxAt(at, end);
            if (!box) return std::nullopt;
            if (box->type == type) return box->complete ? box : std::nullopt;
            at = box->end;
        }
        return std::nullopt;
    }

    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// One track's table of samples: its first sample present, or the track empty.
bool FirstSamplePresent(const Reader& r, const Box& stbl) {
    const auto stsz = r.Child(stbl.body, stbl.end, Tag("stsz"));
    if (!stsz) return false;
    // stsz: version and flags, a common sample size (0: one size per sample), the count.
    const auto commonSize = r.Read(stsz->body + 4, 4);
    const auto count = r.Read(stsz->body + 8, 4);
    if (!commonSize || !count) return false;
    if (*count == 0) return true;
    const auto firstSize = *commonSize != 0 ? commonSize : r.Read(stsz->body + 12, 4);

    std::optional<std::uint64_t> firstOffset;
    if (const auto stco = r.Child(stbl.body, stbl.end, Tag("stco"))) {
        firstOffset = r.Read(stco->body + 8, 4);
    } else if (const auto co64 = r.Child(stbl.body, stbl.end, Tag("co64"))) {
        firstOffset = r.Read(co64->body + 8, 8);
    }
    return firstSize && firstOffset && *firstOffset <= r.size() && *firstSize <= r.size() - *firstOffset;
}

}  // namespace

bool FirstSamplesPresent(const std::uint8_t* clip, std::size_t size) {
    if (clip == nullptr) return false;
    const Reader r(clip, size);
    const auto moov = r.Child(0, size, Tag("moov"));
    if (!moov) return false;
    bool anyTrack = false;
    for (std::size_t at = moov->body; at < moov->end;) {
        const auto box = r.BoxAt(at, moov->end);
        if (!box || !box->complete) return false;
        at = box->end;
        if (box->type != Tag("trak")) continue;
        const auto mdia = r.Child(box->body, box->end, Tag("mdia"));
        const auto minf = mdia ? r.Child(mdia->body, mdia->end, Tag("minf")) : std::nullopt;
        const auto stbl = minf ? r.Child(minf->body, minf->end, Tag("stbl")) : std::nullopt;
        if (!stbl || !FirstSamplePresent(r, *stbl)) return false;
        anyTrack = true;
    }
    return anyTrack;
}

}  // namespace tavro
