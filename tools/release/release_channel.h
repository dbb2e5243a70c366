#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "authenticode.h"
#include "json/json.h"

namespace tavro::release {

// The feed of one setup package, as written and as the installer reads it back.
struct ReleaseFeedFile {
    std::string text;     // the latest.yml bytes
    std::string version;  // release version
    std::string url;      // the file URL as the feed carries it
    std::string resolvedUrl;
    std::uint64_t size = 0;
    std::string imageDigest;   // "SHA256 <hex>" as computed over the file, once the signature is read
    std::string signerSha256;  // the signer certificate's fingerprint, once the signature is read
};

// Writes the feed for a setup package (its bytes and its file name) and proves that the
// installer would take both: the feed through the installer's own descriptor rules under
// the configuration, then the package through the checks the installer makes before it
// runs one (size, SHA-512, Authenticode digest and signature, signer fingerprint,
// product version). url is the file URL to publish, empty for the bare file name;
// releaseDate goes into the feed as it is. Throws a runtime error with the refusal;
// feed is filled as the checks go, so that a refusal can be reported with what was found.
void WriteReleaseFeed(std::span<const std::uint8_t> package, const std::string& fileName, const std::string& url,
                      const std::string& releaseDate, const json::JsonObject& config, ReleaseFeedFile& feed);

// The installer's publisher check on a signature taken apart by ReadAuthenticodeSignature:
// the image digest is the file's, the signer's signature holds, and the signer
// certificate is in the configuration's "windowsSignerSHA256" (exactly, every entry
// read). Throws "Application signature or publisher mismatch: <why>".
void CheckSigner(const AuthenticodeSignature& signature, const json::JsonObject& config);

// The installer's verdict on a feed file: the configuration's two URLs as it checks them
// at start, then the release descriptor. Empty error when accepted.
struct FeedVerdict {
    std::string error;
    std::string url;
    std::string version;
    std::uint64_t size = 0;
};
FeedVerdict CheckReleaseFeed(std::string_view feedBytes, const json::JsonObject& config);

}  // namespace tavro::release
