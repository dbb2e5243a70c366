#include "pe_image.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace tavro::release {

namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kVersionResourceId = 1;     // VS_VERSION_INFO
constexpr std::size_t kFixedFileInfoSize = 52;      // VS_FIXEDFILEINFO
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kWinCertRevision2 = 0x0200;
constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;

[[noreturn]] void Malformed(const char* what) {
    throw std::runtime_error(std::string("Not a valid Windows executable: ") + what);
}

// Little-endian reads that refuse to leave the span; every caller passes offsets
// computed from file contents, so the check cannot be skipped anywhere.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::uint16_t U16(std::uint64_t offset, const char* what) const {
        if (!Has(offset, 2)) Malformed(what);
        return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    }
    std::uint32_t U32(std::uint64_t offset, const char* what) const {
        if (!Has(offset, 4)) Malformed(what);
        return static_cast<std::uint32_t>(bytes_[offset]) | (static_cast<std::uint32_t>(bytes_[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(bytes_[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(bytes_[offset + 3]) << 24);
    }
    std::size_t size() const { return bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

// The file range [offset, end) that backs an RVA: the part of the section's raw
// data from the RVA on, clipped to the file. Nothing when no section holds it.
struct Mapped {
    std::uint64_t offset;
    std::uint64_t end;
};

bool MapRva(const std::vector<Section>& sections, std::uint64_t fileSize, std::uint32_t rva, Mapped& out) {
    for (const Section& s : sections) {
        const std::uint64_t delta = static_cast<std::uint64_t>(rva) - s.virtualAddress;
        if (rva < s.virtualAddress || delta >= s.rawSize) continue;
        const std::uint64_t end = std::min<std::uint64_t>(static_cast<std::uint64_t>(s.rawOffset) + s.rawSize, fileSize);
        const std::uint64_t offset = static_cast<std::uint64_t>(s.rawOffset) + delta;
        if (offset >= end) continue;
        out = {offset, end};
        return true;
    }
    return false;
}

// One level of the resource tree: the entry with the given id, or with
// preferAnyId the id 0 entry when present and else the first id entry (the
// language level: the loader tries the neutral language first).
bool FindResourceEntry(const Reader& r, std::uint64_t base, std::uint64_t limit, std::uint64_t directory,
                       std::uint32_t id, bool anyId, std::uint32_t& target) {
    const std::uint64_t at = base + directory;
    if (at < base || at + 16 > limit) Malformed("resource directory outside its section");
    const std::uint32_t named = r.U16(at + 12, "resource directory");
    const std::uint32_t ids = r.U16(at + 14, "resource directory");
    const std::uint64_t first = at + 16 + static_cast<std::uint64_t>(named) * 8;
    if (first + static_cast<std::uint64_t>(ids) * 8 > limit) Malformed("resource entries outside their section");
    bool found = false;
    for (std::uint32_t i = 0; i < ids; ++i) {
        const std::uint64_t entry = first + static_cast<std::uint64_t>(i) * 8;
        const std::uint32_t name = r.U32(entry, "resource entry");
        if (name & 0x80000000u) continue;  // a named entry among the id entries: not ours
        if (anyId ? (!found || name == 0) : name == id) {
            target = r.U32(entry + 4, "resource entry");
            found = true;
            if (!anyId || name == 0) break;
        }
    }
    return found;
}

// The VS_VERSIONINFO block: the root's value is VS_FIXEDFILEINFO when it is long enough.
void ReadVersionBlock(const Reader& r, std::uint64_t offset, std::uint64_t size, PeImage& image) {
    if (size < 6) {
        image.versionError = "Invalid version information";
        return;
    }
    const std::uint64_t blockLength = std::min<std::uint64_t>(r.U16(offset, "version block"), size);
    const std::uint64_t valueLength = r.U16(offset + 2, "version block");
    // The key is a NUL-terminated UTF-16 text; the value starts at the next 32-bit boundary.
    std::uint64_t key = 6;
    while (key + 2 <= blockLength && r.U16(offset + key, "version block") != 0) key += 2;
    if (key + 2 > blockLength) {
        image.versionError = "Invalid version information";
        return;
    }
    const std::uint64_t value = (key + 2 + 3) & ~std::uint64_t{3};
    if (valueLength < kFixedFileInfoSize || value + kFixedFileInfoSize > blockLength) {
        image.versionError = "Invalid version information";
        return;
    }
    const std::uint32_t productMs = r.U32(offset + value + 16, "version block");
    const std::uint32_t productLs = r.U32(offset + value + 20, "version block");
    image.productMajor = static_cast<std::uint16_t>(productMs >> 16);
    image.productMinor = static_cast<std::uint16_t>(productMs & 0xFFFF);
    image.productBuild = static_cast<std::uint16_t>(productLs >> 16);
}

void ReadVersionResource(const Reader& r, const std::vector<Section>& sections, std::uint32_t resourceRva,
                         std::uint32_t resourceSize, PeImage& image) {
    image.versionError = "Missing application version";
    Mapped root{};
    if (resourceRva == 0 || resourceSize == 0 || !MapRva(sections, r.size(), resourceRva, root)) return;

    std::uint32_t typeEntry = 0, nameEntry = 0, languageEntry = 0;
    if (!FindResourceEntry(r, root.offset, root.end, 0, kResourceTypeVersion, false, typeEntry)) return;
    if (!(typeEntry & 0x80000000u)) Malformed("resource type without a directory");
    if (!FindResourceEntry(r, root.offset, root.end, typeEntry & 0x7FFFFFFFu, kVersionResourceId, false, nameEntry)) {
        return;
    }
    if (!(nameEntry & 0x80000000u)) Malformed("resource name without a directory");
    if (!FindResourceEntry(r, root.offset, root.end, nameEntry & 0x7FFFFFFFu, 0, true, languageEntry)) return;
    if (languageEntry & 0x80000000u) Malformed("resource tree deeper than three levels");

    const std::uint64_t dataEntry = root.offset + languageEntry;
    if (dataEntry + 16 > root.end) Malformed("resource data entry outside its section");
    const std::uint32_t dataRva = r.U32(dataEntry, "resource data entry");
    const std::uint32_t dataSize = r.U32(dataEntry + 4, "resource data entry");
    Mapped data{};
    if (!MapRva(sections, r.size(), dataRva, data) || dataSize > data.end - data.offset) {
        Malformed("version resource outside the file");
    }
    image.versionError.clear();
    ReadVersionBlock(r, data.offset, dataSize, image);
}

void ReadCertificateTable(const Reader& r, std::uint32_t offset, std::uint32_t size, std::uint64_t headersEnd,
                          PeImage& image) {
    if (size == 0) return;
    // The entry holds a file offset, not an RVA; the table is quadword aligned.
    if (!r.Has(offset, size)) Malformed("certificate table outside the file");
    if (offset < headersEnd) Malformed("certificate table inside the headers");
    if (offset % 8 != 0) Malformed("certificate table not aligned");
    image.certificateTable = {offset, size};
    const std::uint32_t length = r.U32(offset, "certificate entry");
    const std::uint16_t revision = r.U16(offset + 4, "certificate entry");
    const std::uint16_t type = r.U16(offset + 6, "certificate entry");
    if (length < 8 || length > size) Malformed("certificate entry longer than its table");
    if (revision == kWinCertRevision2 && type == kWinCertTypePkcsSignedData) {
        image.primarySignature = {static_cast<std::size_t>(offset) + 8, length - 8u};
    }
}

}  // namespace

PeImage ReadPeImage(std::span<const std::uint8_t> file) {
    const Reader r(file);
    if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') Malformed("no MZ header");
    const std::uint64_t pe = r.U32(0x3C, "DOS header");
    if (!r.Has(pe, 24) || r.U32(pe, "PE signature") != 0x00004550u) Malformed("no PE signature");

    const std::uint32_t sectionCount = r.U16(pe + 6, "file header");
    const std::uint32_t optionalSize = r.U16(pe + 20, "file header");
    const std::uint64_t optional = pe + 24;
    if (!r.Has(optional, optionalSize)) Malformed("optional header outside the file");
    const std::uint16_t magic = r.U16(optional, "optional header");
    std::uint64_t directoryCountAt = 0;
    if (magic == 0x10B) {
        directoryCountAt = 92;
    } else if (magic == 0x20B) {
        directoryCountAt = 108;
    } else {
        Malformed("unknown optional header magic");
    }
    const std::uint64_t directories = directoryCountAt + 4;
    const std::uint32_t directoryCount = r.U32(optional + directoryCountAt, "optional header");
    if (directoryCount <= 4 || directories + 5 * 8 > optionalSize) Malformed("no certificate table directory");

    PeImage image;
    image.checksum = {static_cast<std::size_t>(optional + 64), 4};
    image.certificateEntry = {static_cast<std::size_t>(optional + directories + 4 * 8), 8};
    const std::uint64_t headersEnd = r.U32(optional + 60, "optional header");

    const std::uint64_t sectionTable = optional + optionalSize;
    if (!r.Has(sectionTable, static_cast<std::uint64_t>(sectionCount) * kSectionHeaderSize)) {
        Malformed("section table outside the file");
    }
    std::vector<Section> sections;
    sections.reserve(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t at = sectionTable + static_cast<std::uint64_t>(i) * kSectionHeaderSize;
        sections.push_back({r.U32(at + 12, "section header"), r.U32(at + 8, "section header"),
                            r.U32(at + 16, "section header"), r.U32(at + 20, "section header")});
    }

    ReadVersionResource(r, sections, r.U32(optional + directories + 2 * 8, "resource directory entry"),
                        r.U32(optional + directories + 2 * 8 + 4, "resource directory entry"), image);
    ReadCertificateTable(r, r.U32(image.certificateEntry.offset, "certificate directory entry"),
                         r.U32(image.certificateEntry.offset + 4, "certificate directory entry"), headersEnd, image);
    return image;
}

std::string ProductVersionText(const PeImage& image) {
    return std::to_string(image.productMajor) + "." + std::to_string(image.productMinor) + "." +
           std::to_string(image.productBuild);
}

}  // namespace tavro::release
