#include "release_channel.h"

#include <stdexcept>

#include "authenticode.h"
#include "feed/release_descriptor.h"
#include "feed/url_trust.h"
#include "feed/version.h"
#include "pe_image.h"
#include "platform/text.h"

namespace tavro::release {

namespace {

constexpr char kSetupPrefix[] = "Tavro-Setup-";
constexpr char kSetupSuffix[] = ".exe";

[[noreturn]] void Refuse(const std::string& message) {
    throw std::runtime_error(message);
}

std::string NameVersion(const std::string& fileName) {
    const std::string prefix = kSetupPrefix, suffix = kSetupSuffix;
    if (fileName.size() <= prefix.size() + suffix.size() || fileName.compare(0, prefix.size(), prefix) != 0 ||
        fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) != 0) {
        Refuse("Artifact version mismatch: " + fileName + " is not named Tavro-Setup-<version>.exe");
    }
    return fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
}

}  // namespace

void CheckSigner(const AuthenticodeSignature& signature, const json::JsonObject& config) {
    const std::string prefix = "Application signature or publisher mismatch: ";
    if (signature.imageDigest != signature.signedDigest) {
        Refuse(prefix + "the " + signature.digestName + " image digest of the file is " +
               LowerHex(signature.imageDigest) + ", the signature carries " + LowerHex(signature.signedDigest) +
               " (the file changed after it was signed)");
    }
    if (!signature.signatureVerifies) Refuse(prefix + "the signer's signature over the image digest does not verify");
    // As the installer does: every entry is read, exact lower-case comparison.
    const json::JsonArray accepted = config.GetNamedArray(L"windowsSignerSHA256");
    bool listed = false;
    for (std::size_t i = 0; i < accepted.Size(); ++i) {
        if (WideToUtf8(accepted.GetStringAt(i)) == signature.signerSha256) listed = true;
    }
    if (!listed) {
        Refuse(prefix + "the signer certificate " + signature.signerSha256 + " is not in windowsSignerSHA256");
    }
}

void WriteReleaseFeed(std::span<const std::uint8_t> package, const std::string& fileName, const std::string& url,
                      const std::string& releaseDate, const json::JsonObject& config, ReleaseFeedFile& feed) {
    const PeImage image = ReadPeImage(package);
    if (!image.versionError.empty()) Refuse(image.versionError + ": " + fileName + " has no usable version resource");
    feed.version = ProductVersionText(image);
    const std::string named = NameVersion(fileName);
    if (named != feed.version) {
        Refuse("Artifact version mismatch: the file name says " + named + ", the package's version resource says " +
               feed.version);
    }
    feed.url = url.empty() ? fileName : url;
    feed.size = package.size();
    const std::string sha512 = EncodeBase64(Sha512(package));
    feed.text = "version: " + feed.version + "\nfiles:\n  - url: " + feed.url + "\n    sha512: " + sha512 +
                "\n    size: " + std::to_string(feed.size) + "\npath: " + feed.url + "\nsha512: " + sha512 +
                "\nreleaseDate: '" + releaseDate + "'\n";

    // The installer's own rules over exactly the text that will be published.
    const json::JsonObject artifact =
        feed::BuildReleaseDescriptor(feed.text, config).GetNamedArray(L"artifacts").GetObjectAt(0);
    feed.resolvedUrl = WideToUtf8(artifact.GetNamedString(L"url"));

    // What the installer checks once it holds the downloaded package.
    if (static_cast<std::uint64_t>(artifact.GetNamedNumber(L"sizeBytes")) != package.size()) {
        Refuse("Invalid artifact size: the feed does not carry the package's size");
    }
    if (WideToUtf8(artifact.GetNamedString(L"sha512")) != LowerHex(Sha512(package))) {
        Refuse("Downloaded file hash mismatch. Retry to download again.");
    }
    const AuthenticodeSignature signature = ReadAuthenticodeSignature(package, image);
    feed.imageDigest = signature.digestName + " " + LowerHex(signature.imageDigest);
    feed.signerSha256 = signature.signerSha256;
    CheckSigner(signature, config);
    if (feed::CompareVersions(Utf8ToWide(feed.version), artifact.GetNamedString(L"appVersion")) != 0) {
        Refuse("Application version mismatch");
    }
}

FeedVerdict CheckReleaseFeed(std::string_view feedBytes, const json::JsonObject& config) {
    FeedVerdict verdict;
    try {
        feed::CheckDownloadUrl(json::GetJsonString(config, L"channelURL"), config);
        feed::CheckDownloadUrl(json::GetJsonString(config, L"offlineURL"), config);
        const json::JsonObject artifact =
            feed::BuildReleaseDescriptor(feedBytes, config).GetNamedArray(L"artifacts").GetObjectAt(0);
        verdict.url = WideToUtf8(artifact.GetNamedString(L"url"));
        verdict.version = WideToUtf8(artifact.GetNamedString(L"appVersion"));
        verdict.size = static_cast<std::uint64_t>(artifact.GetNamedNumber(L"sizeBytes"));
    } catch (const std::exception& e) {
        verdict.error = e.what();
    }
    return verdict;
}

}  // namespace tavro::release
