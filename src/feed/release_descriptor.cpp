#include "feed/release_descriptor.h"

#include <cstdint>
#include <string>

#include "feed/base64.h"
#include "feed/feed_parser.h"
#include "feed/feed_patterns.h"
#include "feed/url_trust.h"
#include "feed/version.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "shared/installer_config.h"
#include "shared/lower_hex.h"

namespace tavro::feed {

namespace {

constexpr std::uint64_t kMaxArtifactSize = 19999999999ull;

std::wstring ResolveUrl(const std::wstring& url, const json::JsonObject& config) {
    if (url.size() >= 3 && url.find(L"://") != std::wstring::npos) return url;
    const std::wstring channel = json::GetJsonString(config, L"channelURL");
    const size_t slash = channel.rfind(L'/');
    const std::wstring base = slash == std::wstring::npos ? std::wstring() : channel.substr(0, slash + 1);
    return base + url;
}

std::wstring FileNameOf(const std::wstring& url) {
    const size_t slash = url.rfind(L'/');
    return slash == std::wstring::npos ? url : url.substr(slash + 1);
}

std::uint64_t ParseSize(const std::string& text) {
    if (!MatchesDigits(text)) Fail("Invalid artifact size");
    const std::uint64_t value = DigitsToUnsigned64(std::string_view(text));
    if (value < 1 || value > kMaxArtifactSize) Fail("Invalid artifact size");
    return value;
}

json::JsonObject MakeArtifact(const std::wstring& version, const std::wstring& url, std::uint64_t size,
                              const std::wstring& sha512Hex) {
    json::JsonObject artifact;
    artifact.SetNamedValue(L"platform", json::JsonValue::CreateStringValue(L"windows"));
    artifact.SetNamedValue(L"arch", json::JsonValue::CreateStringValue(L"x64"));
    artifact.SetNamedValue(L"appVersion", json::JsonValue::CreateStringValue(version));
    artifact.SetNamedValue(L"minOSVersion", json::JsonValue::CreateStringValue(L"10.0.0"));
    artifact.SetNamedValue(L"url", json::JsonValue::CreateStringValue(url));
    artifact.SetNamedValue(L"sizeBytes", json::JsonValue::CreateNumberValue(static_cast<double>(size)));
    artifact.SetNamedValue(L"installedSizeBytes",
                           json::JsonValue::CreateNumberValue(static_cast<double>(size * 4)));
    artifact.SetNamedValue(L"sha512", json::JsonValue::CreateStringValue(sha512Hex));
    return artifact;
}

}  // namespace

json::JsonObject BuildReleaseDescriptor(std::string_view feedBytes, const json::JsonObject& config) {
    const ReleaseFeed feed = ParseReleaseFeed(feedBytes);
    const std::wstring version = Utf8ToWide(feed.version);
    // Parsed only for its failure: a component beyond 32 bits stops the release here.
    CompareVersions(version, version);

    const std::wstring setupName = L"Tavro-Setup-" + version + L".exe";
    json::JsonArray artifacts;
    for (const FeedFileEntry& entry : feed.files) {
        const std::wstring url = ResolveUrl(Utf8ToWide(FeedField(entry, "url")), config);
        // Every URL of the feed must be trusted, also those of files that are skipped.
        CheckDownloadUrl(url, config);

        const std::wstring name = FileNameOf(url);
        if (name.size() < 4 || name.compare(name.size() - 4, 4, L".exe") != 0) continue;
        if (name != setupName) Fail("Artifact version mismatch");
        if (artifacts.Size() != 0) Fail("Duplicate release target");

        const std::wstring sha512 = Utf8ToWide(FeedField(entry, "sha512"));
        if (!MatchesBase64Sha512(sha512)) Fail("Invalid artifact hash");
        const std::vector<std::uint8_t> digest = DecodeBase64(sha512);
        if (digest.size() != 64) Fail("Invalid artifact hash");

        const std::uint64_t size = ParseSize(FeedField(entry, "size"));
        artifacts.Append(MakeArtifact(version, url, size, ToLowerHex(digest)));
    }
    if (artifacts.Size() == 0) Fail("No compatible release artifacts");

    json::JsonObject descriptor;
    descriptor.SetNamedValue(L"artifacts", artifacts);
    return descriptor;
}

json::JsonObject BuildReleaseDescriptor(std::string_view feedBytes) {
    return BuildReleaseDescriptor(feedBytes, InstallerConfig());
}

}  // namespace tavro::feed
