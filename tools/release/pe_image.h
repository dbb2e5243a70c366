#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tavro::release {

// A byte range of the file: offset and length, both inside the file.
struct FileRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// One section header, and the part of the file that backs it.
struct PeSection {
    std::string name;  // up to eight characters
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t characteristics = 0;
    FileRange raw;  // the raw data, clipped to the file
};

// Section characteristics the release tool looks at.
inline constexpr std::uint32_t kSectionInitializedData = 0x00000040;
inline constexpr std::uint32_t kSectionExecute = 0x20000000;
inline constexpr std::uint32_t kSectionRead = 0x40000000;
inline constexpr std::uint32_t kSectionWrite = 0x80000000;

// What the release tool needs from a Windows executable: where the fields that the
// Authenticode image digest leaves out are, the primary signature, the product
// version of the version resource, and the layout that the other readers below follow.
struct PeImage {
    FileRange checksum;               // the optional header's CheckSum field
    FileRange certificateEntry;       // data directory entry 4 (certificate table)
    FileRange certificateTable;       // size 0 when the file is unsigned
    FileRange primarySignature;       // the first WIN_CERTIFICATE's PKCS#7 bytes; size 0 when none
    // Product version as the installer reads it: high and low word of
    // dwProductVersionMS, high word of dwProductVersionLS.
    std::uint16_t productMajor = 0;
    std::uint16_t productMinor = 0;
    std::uint16_t productBuild = 0;
    // Empty when the product version was read; else the installer's message for why
    // not ("Missing application version" or "Invalid version information").
    std::string versionError;

    bool pe32Plus = false;              // a 64-bit image
    std::uint64_t imageBase = 0;
    std::uint32_t sizeOfImage = 0;
    FileRange dataDirectories;          // the table of (RVA, size) entries, as far as the header holds it
    std::vector<PeSection> sections;
};

// Data directory indexes the release tool reads.
inline constexpr std::size_t kImportDirectory = 1;
inline constexpr std::size_t kTlsDirectory = 9;
inline constexpr std::size_t kLoadConfigDirectory = 10;
inline constexpr std::size_t kDelayImportDirectory = 13;

// A data directory entry: where it is in the file, and what it holds.
struct DataDirectory {
    FileRange entry;  // size 0 when the table has no such entry
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// The load configuration as a 64-bit loader finds it through data directory 10.
struct LoadConfiguration {
    DataDirectory directory;
    FileRange structure;             // the bytes the directory names; size 0 when it names none
    std::uint32_t structureSize = 0; // the structure's own Size field
    std::uint16_t dependentLoadFlags = 0;
    std::uint64_t securityCookie = 0;  // a virtual address, 0 for none
};

// Reads the headers, the section table, the resource tree down to the version block
// and the certificate table. Every offset is checked against the file before it is
// followed; a file that is not a well-formed PE throws a runtime error whose message
// starts with "Not a valid Windows executable". Bytes in, no I/O, no global state:
// this is the entry point the fuzzer drives.
PeImage ReadPeImage(std::span<const std::uint8_t> file);

// Data directory `index`; an entry the table does not hold reads as empty.
DataDirectory ReadDataDirectory(std::span<const std::uint8_t> file, const PeImage& image, std::size_t index);

// The file bytes behind [rva, rva + size): they must lie in the raw data of one section.
// Throws the reader's "Not a valid Windows executable" error naming `what` when not.
FileRange MapRvaRange(const PeImage& image, std::uint64_t rva, std::uint64_t size, const char* what);

// The little-endian value of the 4 or 8 bytes at `offset`. Throws the reader's error naming
// `what` when they leave the file.
std::uint32_t ReadU32(std::span<const std::uint8_t> file, std::uint64_t offset, const char* what);
std::uint64_t ReadU64(std::span<const std::uint8_t> file, std::uint64_t offset, const char* what);

// The section whose raw data holds the RVA, or null.
const PeSection* SectionOfRva(const PeImage& image, std::uint64_t rva);

// The raw data of the sections whose characteristics masked with `mask` are `value`, in file
// order, each byte once however the section table overlaps them: a search over it reads each
// byte of the file at most once.
std::vector<FileRange> SectionRawData(const PeImage& image, std::uint32_t mask, std::uint32_t value);

// The readers below are for the release tool's check of the installer itself; a setup
// package is never put through them. Each throws the reader's error when the structure
// it follows leaves the file.

// The load configuration; an empty directory gives an empty structure.
LoadConfiguration ReadLoadConfiguration(std::span<const std::uint8_t> file, const PeImage& image);

// The DLL names of the import directory, in the loader's order: it stops at the first
// descriptor without a name or an address table.
std::vector<std::string> ReadImportedDllNames(std::span<const std::uint8_t> file, const PeImage& image);

// The DLL names of the delay-load descriptors: those data directory 13 lists, then every other
// descriptor the image carries. GNU ld 2.40 leaves the directory empty although dlltool's
// descriptors are linked in (into .text), and the program's delay-load helper is handed its
// descriptor by the thunk that calls it, never through the directory; so the sections are
// searched for what a helper can use: an RVA-based descriptor naming a DLL, whose module
// handle, address and name tables lie in the image and whose first address slot still points
// at code. Each name once, in the order found.
std::vector<std::string> ReadDelayImportedDllNames(std::span<const std::uint8_t> file, const PeImage& image);

// The virtual addresses in the TLS directory's callback array, which the loader calls before
// the entry point; empty when the image has none.
std::vector<std::uint64_t> ReadTlsCallbacks(std::span<const std::uint8_t> file, const PeImage& image);

// The data of resource type/id (any language, the neutral one first); size 0 when absent.
FileRange FindResourceData(std::span<const std::uint8_t> file, const PeImage& image, std::uint32_t type,
                           std::uint32_t id);

// The optional header's CheckSum as the linker computes it (the field itself counted as zero).
std::uint32_t ComputePeChecksum(std::span<const std::uint8_t> file, const PeImage& image);

// "major.minor.build" of the product version.
std::string ProductVersionText(const PeImage& image);

}  // namespace tavro::release
