#include "pe_image.h"

#include <algorithm>
#include <optional>
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

[[noreturn]] void Malformed(const std::string& what) {
    throw std::runtime_error("Not a valid Windows executable: " + what);
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
    std::uint64_t U64(std::uint64_t offset, const char* what) const {
        return U32(offset, what) | (static_cast<std::uint64_t>(U32(offset + 4, what)) << 32);
    }
    std::size_t size() const { return bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
};

// The file range [offset, end) that backs an RVA: the part of the section's raw
// data from the RVA on, clipped to the file. Nothing when no section holds it.
struct Mapped {
    std::uint64_t offset;
    std::uint64_t end;
};

bool MapRva(const std::vector<PeSection>& sections, std::uint64_t rva, Mapped& out) {
    for (const PeSection& s : sections) {
        if (rva < s.virtualAddress || rva - s.virtualAddress >= s.raw.size) continue;
        out = {s.raw.offset + (rva - s.virtualAddress), static_cast<std::uint64_t>(s.raw.offset) + s.raw.size};
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

// The data of resource type/id through the three levels of the resource tree; nothing
// when the tree has no such entry. `what` names the resource in a refusal.
std::optional<FileRange> FindResource(const Reader& r, const std::vector<PeSection>& sections,
                                      std::uint32_t resourceRva, std::uint32_t resourceSize, std::uint32_t type,
                                      std::uint32_t id, const char* what) {
    Mapped root{};
    if (resourceRva == 0 || resourceSize == 0 || !MapRva(sections, resourceRva, root)) return std::nullopt;

    std::uint32_t typeEntry = 0, nameEntry = 0, languageEntry = 0;
    if (!FindResourceEntry(r, root.offset, root.end, 0, type, false, typeEntry)) return std::nullopt;
    if (!(typeEntry & 0x80000000u)) Malformed("resource type without a directory");
    if (!FindResourceEntry(r, root.offset, root.end, typeEntry & 0x7FFFFFFFu, id, false, nameEntry)) {
        return std::nullopt;
    }
    if (!(nameEntry & 0x80000000u)) Malformed("resource name without a directory");
    if (!FindResourceEntry(r, root.offset, root.end, nameEntry & 0x7FFFFFFFu, 0, true, languageEntry)) {
        return std::nullopt;
    }
    if (languageEntry & 0x80000000u) Malformed("resource tree deeper than three levels");

    const std::uint64_t dataEntry = root.offset + languageEntry;
    if (dataEntry + 16 > root.end) Malformed("resource data entry outside its section");
    const std::uint32_t dataRva = r.U32(dataEntry, "resource data entry");
    const std::uint32_t dataSize = r.U32(dataEntry + 4, "resource data entry");
    Mapped data{};
    if (!MapRva(sections, dataRva, data) || dataSize > data.end - data.offset) {
        Malformed(std::string(what) + " outside the file");
    }
    return FileRange{static_cast<std::size_t>(data.offset), dataSize};
}

void ReadVersionResource(const Reader& r, const std::vector<PeSection>& sections, std::uint32_t resourceRva,
                         std::uint32_t resourceSize, PeImage& image) {
    const std::optional<FileRange> data = FindResource(r, sections, resourceRva, resourceSize, kResourceTypeVersion,
                                                       kVersionResourceId, "version resource");
    if (!data) {
        image.versionError = "Missing application version";
        return;
    }
    ReadVersionBlock(r, data->offset, data->size, image);
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
    image.pe32Plus = magic == 0x20B;
    image.imageBase =
        image.pe32Plus ? r.U64(optional + 24, "optional header") : r.U32(optional + 28, "optional header");
    image.sizeOfImage = r.U32(optional + 56, "optional header");
    const std::uint64_t heldDirectories = std::min<std::uint64_t>(directoryCount, (optionalSize - directories) / 8);
    image.dataDirectories = {static_cast<std::size_t>(optional + directories),
                             static_cast<std::size_t>(heldDirectories * 8)};

    const std::uint64_t sectionTable = optional + optionalSize;
    if (!r.Has(sectionTable, static_cast<std::uint64_t>(sectionCount) * kSectionHeaderSize)) {
        Malformed("section table outside the file");
    }
    image.sections.reserve(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t at = sectionTable + static_cast<std::uint64_t>(i) * kSectionHeaderSize;
        PeSection section;
        for (std::uint64_t c = 0; c < 8 && file[at + c] != 0; ++c) section.name += static_cast<char>(file[at + c]);
        section.virtualSize = r.U32(at + 8, "section header");
        section.virtualAddress = r.U32(at + 12, "section header");
        const std::uint64_t rawSize = r.U32(at + 16, "section header");
        const std::uint64_t rawOffset = r.U32(at + 20, "section header");
        section.characteristics = r.U32(at + 36, "section header");
        if (rawOffset < file.size()) {
            section.raw = {static_cast<std::size_t>(rawOffset),
                           static_cast<std::size_t>(std::min<std::uint64_t>(rawSize, file.size() - rawOffset))};
        }
        image.sections.push_back(std::move(section));
    }

    ReadVersionResource(r, image.sections, r.U32(optional + directories + 2 * 8, "resource directory entry"),
                        r.U32(optional + directories + 2 * 8 + 4, "resource directory entry"), image);
    ReadCertificateTable(r, r.U32(image.certificateEntry.offset, "certificate directory entry"),
                         r.U32(image.certificateEntry.offset + 4, "certificate directory entry"), headersEnd, image);
    return image;
}

DataDirectory ReadDataDirectory(std::span<const std::uint8_t> file, const PeImage& image, std::size_t index) {
    DataDirectory directory;
    if (index >= image.dataDirectories.size / 8) return directory;
    const Reader r(file);
    directory.entry = {image.dataDirectories.offset + index * 8, 8};
    directory.rva = r.U32(directory.entry.offset, "data directory");
    directory.size = r.U32(directory.entry.offset + 4, "data directory");
    return directory;
}

const PeSection* SectionOfRva(const PeImage& image, std::uint64_t rva) {
    for (const PeSection& s : image.sections) {
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.raw.size) return &s;
    }
    return nullptr;
}

FileRange MapRvaRange(const PeImage& image, std::uint64_t rva, std::uint64_t size, const char* what) {
    const PeSection* section = SectionOfRva(image, rva);
    if (section == nullptr || size > section->raw.size - (rva - section->virtualAddress)) {
        Malformed(std::string(what) + " outside the file");
    }
    return {section->raw.offset + static_cast<std::size_t>(rva - section->virtualAddress),
            static_cast<std::size_t>(size)};
}

std::uint32_t ReadU32(std::span<const std::uint8_t> file, std::uint64_t offset, const char* what) {
    return Reader(file).U32(offset, what);
}

std::uint64_t ReadU64(std::span<const std::uint8_t> file, std::uint64_t offset, const char* what) {
    return Reader(file).U64(offset, what);
}

LoadConfiguration ReadLoadConfiguration(std::span<const std::uint8_t> file, const PeImage& image) {
    LoadConfiguration config;
    config.directory = ReadDataDirectory(file, image, kLoadConfigDirectory);
    if (config.directory.rva == 0 || config.directory.size == 0) return config;
    const Reader r(file);
    config.structureSize = r.U32(MapRvaRange(image, config.directory.rva, 4, "load configuration").offset,
                                 "load configuration");
    config.structure = MapRvaRange(image, config.directory.rva, config.structureSize, "load configuration");
    // Fields past the structure's own size are not there for the loader either.
    const std::uint64_t flagsAt = image.pe32Plus ? 0x4E : 0x32, cookieAt = image.pe32Plus ? 0x58 : 0x3C;
    if (config.structureSize >= flagsAt + 2) {
        config.dependentLoadFlags = r.U16(config.structure.offset + flagsAt, "load configuration");
    }
    if (config.structureSize >= cookieAt + (image.pe32Plus ? 8 : 4)) {
        config.securityCookie = image.pe32Plus ? r.U64(config.structure.offset + cookieAt, "load configuration")
                                               : r.U32(config.structure.offset + cookieAt, "load configuration");
    }
    return config;
}

std::vector<std::string> ReadImportedDllNames(std::span<const std::uint8_t> file, const PeImage& image) {
    constexpr std::uint64_t kDescriptorSize = 20, kMostDlls = 1024, kLongestName = 260;
    const DataDirectory directory = ReadDataDirectory(file, image, kImportDirectory);
    std::vector<std::string> names;
    if (directory.rva == 0) return names;
    const Reader r(file);
    for (std::uint64_t at = directory.rva;; at += kDescriptorSize) {
        const FileRange descriptor = MapRvaRange(image, at, kDescriptorSize, "import directory");
        const std::uint32_t nameRva = r.U32(descriptor.offset + 12, "import directory");
        const std::uint32_t addressTable = r.U32(descriptor.offset + 16, "import directory");
        if (nameRva == 0 || addressTable == 0) break;
        if (names.size() == kMostDlls) Malformed("more than 1024 imported DLLs");
        const FileRange text = MapRvaRange(image, nameRva, 1, "imported DLL name");
        const PeSection* section = SectionOfRva(image, nameRva);
        const std::uint64_t end =
            std::min<std::uint64_t>(section->raw.offset + section->raw.size, text.offset + kLongestName);
        std::string name;
        std::uint64_t c = text.offset;
        for (; c < end && file[c] != 0; ++c) {
            if (file[c] < 0x20 || file[c] > 0x7E) Malformed("imported DLL name that is not plain text");
            name += static_cast<char>(file[c]);
        }
        if (c == end) Malformed("imported DLL name without its end");
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<FileRange> SectionRawData(const PeImage& image, std::uint32_t mask, std::uint32_t value) {
    std::vector<FileRange> ranges;
    for (const PeSection& s : image.sections) {
        if ((s.characteristics & mask) == value && s.raw.size != 0) ranges.push_back(s.raw);
    }
    std::sort(ranges.begin(), ranges.end(), [](const FileRange& a, const FileRange& b) { return a.offset < b.offset; });
    std::vector<FileRange> merged;
    for (const FileRange& range : ranges) {
        if (!merged.empty() && range.offset <= merged.back().offset + merged.back().size) {
            const std::size_t end = std::max(merged.back().offset + merged.back().size, range.offset + range.size);
            merged.back().size = end - merged.back().offset;
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

namespace {

// The sections by address, for a search that may look up millions of addresses. A loader maps
// sections into disjoint address ranges and refuses an image whose table overlaps them; with
// them disjoint, the one section found is the one SectionOfRva gives.
class SectionIndex {
public:
    explicit SectionIndex(const PeImage& image) {
        for (const PeSection& s : image.sections) {
            if (s.raw.size != 0) sorted_.push_back(&s);
        }
        std::sort(sorted_.begin(), sorted_.end(),
                  [](const PeSection* a, const PeSection* b) { return a->virtualAddress < b->virtualAddress; });
        for (std::size_t i = 1; i < sorted_.size(); ++i) {
            if (sorted_[i]->virtualAddress - std::uint64_t{sorted_[i - 1]->virtualAddress} < sorted_[i - 1]->raw.size) {
                Malformed("sections whose addresses overlap");
            }
        }
    }

    const PeSection* Find(std::uint64_t rva) const {
        const auto after = std::upper_bound(sorted_.begin(), sorted_.end(), rva,
                                            [](std::uint64_t v, const PeSection* s) { return v < s->virtualAddress; });
        if (after == sorted_.begin()) return nullptr;
        const PeSection* s = *(after - 1);
        return rva - s->virtualAddress < s->raw.size ? s : nullptr;
    }

private:
    std::vector<const PeSection*> sorted_;
};

// The NUL-terminated name at `rva` in its section's raw data, as a loader takes a DLL name:
// nothing when it runs past its section or 260 bytes, or holds other than printable ASCII.
std::optional<std::string> DllNameAt(std::span<const std::uint8_t> file, const PeSection* section, std::uint64_t rva) {
    constexpr std::uint64_t kLongestName = 260;
    if (section == nullptr) return std::nullopt;
    const std::uint64_t start = section->raw.offset + (rva - section->virtualAddress);
    const std::uint64_t end = std::min<std::uint64_t>(section->raw.offset + section->raw.size, start + kLongestName);
    std::string name;
    for (std::uint64_t c = start; c < end; ++c) {
        if (file[c] == 0) return name.empty() ? std::nullopt : std::optional<std::string>(std::move(name));
        if (file[c] < 0x20 || file[c] > 0x7E) return std::nullopt;
        name += static_cast<char>(file[c]);
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> ReadDelayImportedDllNames(std::span<const std::uint8_t> file, const PeImage& image) {
    constexpr std::uint64_t kDescriptorSize = 32, kMostDescriptors = 1024;
    constexpr std::uint32_t kRvaBased = 1;  // dlattrRva
    const Reader r(file);
    std::vector<std::string> names;
    std::uint64_t descriptors = 0;
    const auto add = [&](std::string name) {
        if (++descriptors > kMostDescriptors) Malformed("more than 1024 delay-load descriptors");
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    };

    const DataDirectory directory = ReadDataDirectory(file, image, kDelayImportDirectory);
    for (std::uint64_t at = directory.rva; at != 0; at += kDescriptorSize) {
        const FileRange descriptor = MapRvaRange(image, at, kDescriptorSize, "delay import directory");
        const std::uint32_t nameField = r.U32(descriptor.offset + 4, "delay import directory");
        if (nameField == 0) break;
        // Without the RVA attribute the fields are virtual addresses (only a 32-bit image's fit).
        const bool rvaBased = (r.U32(descriptor.offset, "delay import directory") & kRvaBased) != 0;
        if (!rvaBased && nameField < image.imageBase) Malformed("delay-loaded DLL name outside the file");
        const std::uint64_t nameRva = rvaBased ? nameField : nameField - image.imageBase;
        const std::optional<std::string> name = DllNameAt(file, SectionOfRva(image, nameRva), nameRva);
        if (!name) Malformed("delay-loaded DLL name that is not plain text");
        add(*name);
    }

    const SectionIndex sections(image);
    const std::uint64_t width = image.pe32Plus ? 8 : 4;
    // The first entry of a table the descriptor names: an address or name slot.
    const auto first = [&](std::uint32_t rva, std::uint64_t& value) {
        const PeSection* section = sections.Find(rva);
        if (section == nullptr || width > section->raw.size - (rva - section->virtualAddress)) return false;
        const std::uint64_t at = section->raw.offset + (rva - section->virtualAddress);
        value = width == 8 ? r.U64(at, "address slot") : r.U32(at, "address slot");
        return true;
    };
    const auto inImage = [&](std::uint32_t rva) { return rva != 0 && rva < image.sizeOfImage; };
    for (const FileRange& data : SectionRawData(image, 0, 0)) {
        // Descriptors are 4-byte aligned, and so is every section's raw data in a loadable image.
        for (std::uint64_t at = (data.offset + 3) & ~std::uint64_t{3}; at + kDescriptorSize <= data.offset + data.size;
             at += 4) {
            const auto field = [&](std::uint64_t index) { return r.U32(at + 4 * index, "section data"); };
            if (field(0) != kRvaBased) continue;
            const std::uint32_t nameRva = field(1), handle = field(2), bound = field(5), unload = field(6);
            if (!inImage(handle) || bound >= image.sizeOfImage || unload >= image.sizeOfImage) continue;
            std::uint64_t firstSlot = 0, firstName = 0;
            if (!first(field(3), firstSlot) || !first(field(4), firstName) || firstName == 0) continue;
            const PeSection* code = firstSlot < image.imageBase ? nullptr : sections.Find(firstSlot - image.imageBase);
            if (code == nullptr || (code->characteristics & kSectionExecute) == 0) continue;
            if (std::optional<std::string> name = DllNameAt(file, sections.Find(nameRva), nameRva)) add(std::move(*name));
        }
    }
    return names;
}

std::vector<std::uint64_t> ReadTlsCallbacks(std::span<const std::uint8_t> file, const PeImage& image) {
    constexpr std::size_t kMostCallbacks = 1024;
    std::vector<std::uint64_t> callbacks;
    const DataDirectory directory = ReadDataDirectory(file, image, kTlsDirectory);
    if (directory.rva == 0) return callbacks;
    const Reader r(file);
    const std::uint64_t width = image.pe32Plus ? 8 : 4;
    const auto read = [&](std::uint64_t offset) {
        return width == 8 ? r.U64(offset, "TLS callbacks") : r.U32(offset, "TLS callbacks");
    };
    // StartAddressOfRawData, EndAddressOfRawData, AddressOfIndex, AddressOfCallBacks.
    const std::uint64_t array = read(MapRvaRange(image, directory.rva, 4 * width, "TLS directory").offset + 3 * width);
    if (array == 0) return callbacks;
    if (array < image.imageBase) Malformed("TLS callbacks outside the file");
    for (std::uint64_t at = array - image.imageBase;; at += width) {
        const std::uint64_t callback = read(MapRvaRange(image, at, width, "TLS callbacks").offset);
        if (callback == 0) break;
        if (callbacks.size() == kMostCallbacks) Malformed("more than 1024 TLS callbacks");
        callbacks.push_back(callback);
    }
    return callbacks;
}

FileRange FindResourceData(std::span<const std::uint8_t> file, const PeImage& image, std::uint32_t type,
                           std::uint32_t id) {
    const DataDirectory resources = ReadDataDirectory(file, image, 2);
    return FindResource(Reader(file), image.sections, resources.rva, resources.size, type, id, "resource data")
        .value_or(FileRange{});
}

std::uint32_t ComputePeChecksum(std::span<const std::uint8_t> file, const PeImage& image) {
    // The 16-bit one's-complement sum of the file, its own field counted as zero, plus the length.
    const auto byte = [&](std::size_t at) -> std::uint32_t {
        if (at >= file.size() || (at >= image.checksum.offset && at - image.checksum.offset < image.checksum.size)) {
            return 0;
        }
        return file[at];
    };
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < file.size(); at += 2) {
        sum += byte(at) | (byte(at + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

std::string ProductVersionText(const PeImage& image) {
    return std::to_string(image.productMajor) + "." + std::to_string(image.productMinor) + "." +
           std::to_string(image.productBuild);
}

}  // namespace tavro::release
