// A Windows executable as the release tool reads it before publishing: headers, sections,
// the version resource and the Authenticode signature, from bytes anyone can hand it; for
// an installer build also its load configuration, imports, manifest and embedded
// configuration, and the post-link step that writes its load configuration directory. A
// refusal must be the reader's or the signature check's own; an accepted image may name
// only ranges inside the file, and its signature must be taken apart within them; an
// image the post-link step writes must read back with a sound load configuration.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <openssl/err.h>

#include "authenticode.h"
#include "fuzz_checks.h"
#include "installer_check.h"
#include "load_config.h"
#include "pe_image.h"
#include "shared/installer_config.h"

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
    const auto readersOwn = [](const std::runtime_error& e) {
        Require(std::string_view(e.what()).starts_with("Not a valid Windows executable: "), "the reader's own refusal");
    };
    try {
        const release::LoadConfiguration config = release::ReadLoadConfiguration(file, image);
        const release::FileRange manifest = release::FindResourceData(file, image, 24, 1);
        for (const release::FileRange& range : {config.structure, manifest}) {
            Require(range.offset <= size && range.size <= size - range.offset, "every range lies inside the file");
        }
        release::LoadConfigurationFault(file, image, config);
        release::ReadImportedDllNames(file, image);
    } catch (const std::runtime_error& e) {
        readersOwn(e);
    }
    static const bool configured = (LoadInstallerConfig(), true);
    if (configured) release::CheckInstaller(file, InstallerConfig());  // refusals are the verdict's, never a throw

    std::vector<std::uint8_t> written(data, data + size);
    try {
        if (release::WriteLoadConfigDirectory(written)) {
            const release::PeImage again = release::ReadPeImage(written);
            Require(release::LoadConfigurationFault(written, again, release::ReadLoadConfiguration(written, again)).empty(),
                    "a written load configuration is sound");
        }
    } catch (const std::runtime_error&) {
        // Every refusal of the post-link step leaves the build failing; none is a fault here.
    }
    ERR_clear_error();  // OpenSSL queues an error per refused structure, per thread
    return 0;
}
