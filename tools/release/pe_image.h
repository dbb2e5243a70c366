#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tavro::release {

// A byte range of the file: offset and length, both inside the file.
struct FileRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// What the release tool needs from a Windows executable: where the fields that the
// Authenticode image digest leaves out are, the primary signature, and the product
// version of the version resource.
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
};

// Reads the headers, the section table, the resource tree down to the version block
// and the certificate table. Every offset is checked against the file before it is
// followed; a file that is not a well-formed PE throws a runtime error whose message
// starts with "Not a valid Windows executable". Bytes in, no I/O, no global state:
// this is the entry point the fuzzer drives.
PeImage ReadPeImage(std::span<const std::uint8_t> file);

// "major.minor.build" of the product version.
std::string ProductVersionText(const PeImage& image);

}  // namespace tavro::release
