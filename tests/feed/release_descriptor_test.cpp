#include "feed/release_descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"
#include "support/error_of.h"

namespace tavro::feed {
namespace {

// SHA-512 of "tavro", as the feed carries it and as the descriptor must give it.
constexpr char kDigest64[] =
    "lOx7CcNiSWsDe/2Ikg4V8QXiiHgQqTgciOVxqOk2iPNUAvegbk5hZ5iWKYLhTKB9R4dT7XSfp5UltjEebhI/nA==";
constexpr wchar_t kDigestHex[] =
    L"94ec7b09c362496b037bfd88920e15f105e2887810a9381c88e571a8e93688f3"
    L"5402f7a06e4e616798962982e14ca07d478753ed749fa79525b6311e6e123f9c";

json::JsonObject Config(const wchar_t* hosts = L"[\"localhost\",\"127.0.0.1\"]") {
    return json::JsonObject::Parse(std::wstring(L"{\"channelURL\":\"https://localhost/desktop/win/latest.yml\","
                                                L"\"allowedHosts\":") +
                                   hosts + L"}");
}

std::string Entry(const std::string& url, const std::string& sha = kDigest64, const std::string& size = "1024") {
    return "  - url: " + url + "\n    sha512: " + sha + "\n    size: " + size + "\n";
}

std::string Feed(const std::string& entries, const std::string& version = "1.4.2") {
    return "version: " + version + "\nfiles:\n" + entries;
}

std::string ErrorOf(const std::string& feed, const json::JsonObject& config = Config()) {
    return testing::ErrorOf([&] { BuildReleaseDescriptor(feed, config); });
}

const std::string kSetup = "Tavro-Setup-1.4.2.exe";

TEST(ReleaseDescriptor, BuildsTheOneArtifact) {
    const json::JsonObject descriptor =
        BuildReleaseDescriptor(Feed(Entry("Tavro-Setup-1.4.2.exe.blockmap") + Entry(kSetup) +
                                    "    blockMapSize: 5\n" + Entry("notes.txt")),
                               Config());
    EXPECT_EQ(descriptor.Members().size(), 1u);
    const json::JsonArray artifacts = descriptor.GetNamedArray(L"artifacts");
    ASSERT_EQ(artifacts.Size(), 1u);
    const json::JsonObject artifact = artifacts.GetObjectAt(0);
    EXPECT_EQ(artifact.Stringify(),
              std::wstring(L"{\"platform\":\"windows\",\"arch\":\"x64\",\"appVersion\":\"1.4.2\","
                           L"\"minOSVersion\":\"10.0.0\",\"url\":\"https://localhost/desktop/win/Tavro-Setup-1.4.2.exe\","
                           L"\"sizeBytes\":1024,\"installedSizeBytes\":4096,\"sha512\":\"") +
                  kDigestHex + L"\"}");
    EXPECT_EQ(artifact.GetNamedNumber(L"sizeBytes"), 1024.0);
}

TEST(ReleaseDescriptor, ResolvesAndKeepsUrls) {
    struct Case {
        const char* feedUrl;
        const wchar_t* channel;
        const wchar_t* resolved;
    };
    const Case cases[] = {
        {"Tavro-Setup-1.4.2.exe", L"https://localhost/desktop/win/latest.yml",
         L"https://localhost/desktop/win/Tavro-Setup-1.4.2.exe"},
        {"https://127.0.0.1/any/Tavro-Setup-1.4.2.exe", L"https://localhost/desktop/win/latest.yml",
         L"https://127.0.0.1/any/Tavro-Setup-1.4.2.exe"},
        // No normalisation of relative forms: the text is appended as it is.
        {"../x/Tavro-Setup-1.4.2.exe", L"https://localhost/desktop/win/latest.yml",
         L"https://localhost/desktop/win/../x/Tavro-Setup-1.4.2.exe"},
        {"/Tavro-Setup-1.4.2.exe", L"https://localhost/a/latest.yml", L"https://localhost/a//Tavro-Setup-1.4.2.exe"},
        {"Tavro-Setup-1.4.2.exe?x=1/Tavro-Setup-1.4.2.exe", L"https://localhost/latest.yml",
         L"https://localhost/Tavro-Setup-1.4.2.exe?x=1/Tavro-Setup-1.4.2.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.feedUrl);
        const json::JsonObject config = json::JsonObject::Parse(
            std::wstring(L"{\"channelURL\":\"") + c.channel + L"\",\"allowedHosts\":[\"localhost\",\"127.0.0.1\"]}");
        const json::JsonObject artifact =
            BuildReleaseDescriptor(Feed(Entry(c.feedUrl)), config).GetNamedArray(L"artifacts").GetObjectAt(0);
        EXPECT_EQ(artifact.GetNamedString(L"url"), c.resolved);
    }
}

TEST(ReleaseDescriptor, RefusesWithTheRightMessage) {
    const std::string twoEquals = std::string(kDigest64).substr(0, 85) + "B==";
    struct Case {
        const char* name;
        std::string feed;
        const char* message;
    };
    const Case cases[] = {
        {"parser failure passes through", "version: 1.4.2\n", "Missing release version or files"},
        {"version beyond 32 bits", Feed(Entry(kSetup), "4294967296.0.0"), "stoul argument out of range"},
        {"only a block map", Feed(Entry("Tavro-Setup-1.4.2.exe.blockmap")), "No compatible release artifacts"},
        {"only an archive", Feed(Entry("Tavro-1.4.2.zip")), "No compatible release artifacts"},
        {"upper-case extension is skipped", Feed(Entry("Tavro-Setup-1.4.2.EXE")), "No compatible release artifacts"},
        {"name shorter than four", Feed(Entry("exe")), "No compatible release artifacts"},
        {"second exe misnamed", Feed(Entry(kSetup) + Entry("Other.exe")), "Artifact version mismatch"},
        {"exe of another version", Feed(Entry("Tavro-Setup-1.4.3.exe")), "Artifact version mismatch"},
        {"name in other case", Feed(Entry("tavro-setup-1.4.2.exe")), "Artifact version mismatch"},
        {"just .exe", Feed(Entry(".exe")), "Artifact version mismatch"},
        {"listed twice", Feed(Entry(kSetup) + Entry(kSetup)), "Duplicate release target"},
        {"twice on both hosts", Feed(Entry(kSetup) + Entry("https://127.0.0.1/" + kSetup)), "Duplicate release target"},
        {"untrusted host even for a skipped file", Feed(Entry("https://example.com/notes.txt") + Entry(kSetup)),
         "Untrusted download host"},
        {"untrusted host after the package", Feed(Entry(kSetup) + Entry("https://example.com/notes.txt")),
         "Untrusted download host"},
        {"plain http", Feed(Entry("http://localhost/" + kSetup)), "Untrusted download URL"},
        {"other port", Feed(Entry("https://localhost:8443/" + kSetup)), "Untrusted download URL"},
        {"fragment", Feed(Entry(kSetup + "#x")), "Untrusted download URL"},
        {"missing sha512", Feed("  - url: " + kSetup + "\n    size: 1\n"), "invalid map<K, T> key"},
        {"missing size", Feed("  - url: " + kSetup + "\n    sha512: " + kDigest64 + "\n"), "invalid map<K, T> key"},
        {"hash of 86 and ==, bad last character", Feed(Entry(kSetup, twoEquals)), "Invalid artifact hash"},
        {"hash in hex", Feed(Entry(kSetup, std::string(128, 'a'))), "Invalid artifact hash"},
        {"hash too short", Feed(Entry(kSetup, std::string(kDigest64).substr(4))), "Invalid artifact hash"},
        {"hash with URL-safe alphabet", Feed(Entry(kSetup, "-" + std::string(kDigest64).substr(1))), "Invalid artifact hash"},
        {"hash with blank", Feed(Entry(kSetup, "'" + std::string(kDigest64).substr(0, 40) + " " +
                                                   std::string(kDigest64).substr(41) + "'")),
         "Invalid artifact hash"},
        {"size zero", Feed(Entry(kSetup, kDigest64, "0")), "Invalid artifact size"},
        {"size too large", Feed(Entry(kSetup, kDigest64, "20000000000")), "Invalid artifact size"},
        {"size with plus", Feed(Entry(kSetup, kDigest64, "+5")), "Invalid artifact size"},
        {"size quoted with blank", Feed(Entry(kSetup, kDigest64, "' 5'")), "Invalid artifact size"},
        {"size empty", Feed(Entry(kSetup, kDigest64, "''")), "Invalid artifact size"},
        {"size hexadecimal", Feed(Entry(kSetup, kDigest64, "0x10")), "Invalid artifact size"},
        {"size beyond 64 bits", Feed(Entry(kSetup, kDigest64, "18446744073709551616")), "stoull argument out of range"},
        {"size at 64-bit limit", Feed(Entry(kSetup, kDigest64, "18446744073709551615")), "Invalid artifact size"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorOf(c.feed), c.message);
    }
}

TEST(ReleaseDescriptor, SizeBounds) {
    struct Case {
        const char* size;
        double expected;
        double installed;
    };
    const Case cases[] = {
        {"1", 1, 4},
        {"19999999999", 19999999999.0, 79999999996.0},
        {"000000000000000000000000042", 42, 168},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const json::JsonObject artifact = BuildReleaseDescriptor(Feed(Entry(kSetup, kDigest64, c.size)), Config())
                                              .GetNamedArray(L"artifacts")
                                              .GetObjectAt(0);
        EXPECT_EQ(artifact.GetNamedNumber(L"sizeBytes"), c.expected);
        EXPECT_EQ(artifact.GetNamedNumber(L"installedSizeBytes"), c.installed);
    }
}

TEST(ReleaseDescriptor, ConfigurationFailuresAreReported) {
    EXPECT_EQ(ErrorOf(Feed(Entry(kSetup)), Config(L"[]")), "Untrusted download host");
    // The channel URL is read only to resolve a relative URL.
    const json::JsonObject noChannel = json::JsonObject::Parse(L"{\"allowedHosts\":[\"localhost\"]}");
    EXPECT_EQ(ErrorOf(Feed(Entry("https://localhost/" + kSetup)), noChannel), "");
    EXPECT_EQ(testing::CodeOf([&] { BuildReleaseDescriptor(Feed(Entry(kSetup)), noChannel); }), kWebJsonValueNotFound);
}

}  // namespace
}  // namespace tavro::feed
