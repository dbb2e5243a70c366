// A Windows executable as the release tool reads it before publishing: headers, sections,
// the version resource and the Authenticode signature, from bytes anyone can hand it. A
// refusal must be the reader's or the signature check's own; an accepted image may name
// only ranges inside the file, and its signature must be taken apart within them.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

#include <openssl/err.h>

#include "authenticode.h"
#include "fuzz_checks.h"
#include "pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    const std::span<const std::uint8_t> file(data, size);
    release::PeImage image;
    try {
        image = release::ReadPeImage(file);
    } catch (const std::runtime_error& e) {
        Require(std::string_view(e.what()).starts_with("Not a valid Windows executable: "), "the reader's own refusal");
        return 0;
    }
    for (const release::FileRange& range :
         {image.checksum, image.certificateEntry, image.certificateTable, image.primarySignature}) {
        Require(range.offset <= size && range.size <= size - range.offset, "every range lies inside the file");
    }
    Require(image.versionError.empty() || image.versionError == "Missing application version" ||
                image.versionError == "Invalid version information",
            "a version error is one of the installer's");
    if (image.versionError.empty()) release::ProductVersionText(image);
    release::ComputeImageDigest(file, image, "SHA256");
    try {
        release::ReadAuthenticodeSignature(file, image);
    } catch (const std::runtime_error& e) {
        Require(std::string_view(e.what()).starts_with("Application signature or publisher mismatch: "),
                "the signature check's own refusal");
    }
    ERR_clear_error();  // OpenSSL queues an error per refused structure, per thread
    return 0;
}
