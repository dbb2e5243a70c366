// The channel feed as a server may send it: the line parser, then the release descriptor
// built from the same bytes against the embedded configuration. A refusal must carry one
// of the documented messages, an accepted descriptor must hold the one artifact the rules
// allow, every line matcher must agree with the expression it replaces, and the Base64
// decoder must read back what an encoder writes.
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "feed/base64.h"
#include "feed/feed_parser.h"
#include "feed/feed_patterns.h"
#include "feed/release_descriptor.h"
#include "feed/url_trust.h"
#include "fuzz_checks.h"
#include "platform/text.h"
#include "shared/installer_config.h"

namespace tavro::fuzz {
namespace {

constexpr std::initializer_list<std::string_view> kParserMessages = {
    "Manifest too large", "Duplicate feed field", "Invalid files list", "Unsupported files list",
    "Missing release version or files", "Invalid YAML scalar", "Unsupported YAML scalar"};

constexpr std::initializer_list<std::string_view> kDescriptorMessages = {
    "Manifest too large", "Duplicate feed field", "Invalid files list", "Unsupported files list",
    "Missing release version or files", "Invalid YAML scalar", "Unsupported YAML scalar",
    "stoul argument out of range", "Invalid download URL", "Untrusted download URL", "Untrusted download host",
    "Artifact version mismatch", "Duplicate release target", "invalid map<K, T> key", "Invalid artifact hash",
    "Invalid base64", "Invalid artifact size", "stoull argument out of range", "No compatible release artifacts"};

// libstdc++'s engine recurses per character: the reference is asked only about short lines.
constexpr std::size_t kReferenceLineLimit = 256;

template <class Fields>
void RequireSameFields(const Fields& fields, bool matched, const std::smatch& groups, const char* property) {
    Require(fields.has_value() == matched, property);
    if (fields) Require(fields->key == groups.str(1) && fields->value == groups.str(2), property);
}

void CheckLineMatchers(std::string_view line) {
    static const std::regex topLevel("^(version|files):[ \t]*(.*?)[ \t]*$");
    static const std::regex fileItem("^  - url:[ \t]*(.*?)[ \t]*$");
    static const std::regex fileField("^    (sha512|size):[ \t]*(.*?)[ \t]*$");
    static const std::regex blockMapSize("^    blockMapSize: [0-9]+[ \t]*$");
    const std::string text(line);
    std::smatch groups;
    RequireSameFields(feed::MatchTopLevelField(line), std::regex_match(text, groups, topLevel), groups,
                      "top-level field matcher agrees with its expression");
    const auto url = feed::MatchFileItem(line);
    Require(url.has_value() == std::regex_match(text, groups, fileItem) && (!url || *url == groups.str(1)),
            "file item matcher agrees with its expression");
    RequireSameFields(feed::MatchFileField(line), std::regex_match(text, groups, fileField), groups,
                      "file field matcher agrees with its expression");
    Require(feed::MatchesBlockMapSize(line) == std::regex_match(text, blockMapSize),
            "blockMapSize matcher agrees with its expression");
}

// Every line as a digest text: refused only with its message, and unpadded text of the
// alphabet in whole groups decodes to bytes that encode to that text again.
void CheckBase64(std::string_view line) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> bytes;
    try {
        bytes = feed::DecodeBase64(Utf8ToWide(line));
    } catch (const std::exception& e) {
        RequireMessage(e, {"Invalid base64"});
    }
    if (line.size() % 4 != 0 || line.find_first_not_of(kAlphabet) != std::string_view::npos) return;
    std::string encoded;
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        for (const int shift : {18, 12, 6, 0}) encoded += kAlphabet[(group >> shift) & 63];
    }
    Require(bytes.size() == line.size() / 4 * 3 && encoded == line, "whole Base64 groups decode and encode back");
}

void CheckArtifact(const json::JsonObject& descriptor, const std::wstring& version) {
    const json::JsonArray artifacts = descriptor.GetNamedArray(L"artifacts");
    Require(artifacts.Size() == 1, "exactly one artifact");
    const json::JsonObject artifact = artifacts.GetObjectAt(0);
    std::wstring names;
    for (const auto& [name, value] : artifact.Members()) names += name + L",";
    Require(names == L"platform,arch,appVersion,minOSVersion,url,sizeBytes,installedSizeBytes,sha512,",
            "artifact members in the documented order");
    Require(artifact.GetNamedString(L"platform") == L"windows" && artifact.GetNamedString(L"arch") == L"x64" &&
                artifact.GetNamedString(L"minOSVersion") == L"10.0.0",
            "fixed artifact members");
    Require(artifact.GetNamedString(L"appVersion") == version && feed::MatchesVersionForm(std::wstring_view(version)),
            "artifact version is the feed version");
    const std::wstring url = artifact.GetNamedString(L"url");
    feed::CheckDownloadUrl(url);
    Require(url.ends_with(L"/Tavro-Setup-" + version + L".exe"), "artifact URL names the setup package");
    const double size = artifact.GetNamedNumber(L"sizeBytes");
    Require(size >= 1 && size <= 19999999999.0 && size == static_cast<double>(static_cast<std::int64_t>(size)),
            "artifact size in range");
    Require(artifact.GetNamedNumber(L"installedSizeBytes") == size * 4, "installed size is four times the size");
    const std::wstring sha512 = artifact.GetNamedString(L"sha512");
    Require(sha512.size() == 128 && sha512.find_first_not_of(L"0123456789abcdef") == std::wstring::npos,
            "digest is 128 lower-case hex digits");
}

}  // namespace
}  // namespace tavro::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tavro::LoadInstallerConfig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    const std::string_view bytes = BytesOf(data, size);
    for (std::size_t start = 0; start <= bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        if (end - start <= kReferenceLineLimit) CheckLineMatchers(bytes.substr(start, end - start));
        CheckBase64(bytes.substr(start, end - start));
        start = end + 1;
    }

    std::string parserMessage;
    std::wstring version;
    try {
        version = Utf8ToWide(feed::ParseReleaseFeed(bytes).version);
    } catch (const std::exception& e) {
        RequireMessage(e, kParserMessages);
        parserMessage = e.what();
    }
    json::JsonObject descriptor;
    try {
        descriptor = feed::BuildReleaseDescriptor(bytes);
    } catch (const std::exception& e) {
        RequireMessage(e, kDescriptorMessages);
        Require(parserMessage.empty() || parserMessage == e.what(), "the parser's refusal passes through unchanged");
        return 0;
    }
    Require(parserMessage.empty(), "a feed the parser refuses gives no descriptor");
    CheckArtifact(descriptor, version);
    return 0;
}
