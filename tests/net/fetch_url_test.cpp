// The download against the real channel server over HTTPS on 127.0.0.1:443, through
// WinHTTP under Wine. Each scenario scripts the server's answers and then checks the
// result, the file and what the client sent.
#include "net/fetch_url.h"
#include "net/package_download.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cache/payload_cache.h"
#include "channel/channel_client.h"
#include "json/json.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/installer_config.h"
#include "shared/localized_strings.h"
#include "shared/process_state.h"
#include "shared/status_sink.h"
#include "support/error_of.h"
#include "support/local_app_data_override.h"
#include "support/status_recorder.h"

namespace tavro::net {
namespace {

std::string Pattern(size_t size, int seed = 7) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed + i / 251) & 0xFF);
    return bytes;
}

using testing::Channel;
using testing::ErrorOf;
using testing::ReadFileIfPresent;
using testing::RecordedRequest;
using testing::WriteFileBytes;

class FetchUrlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        LoadInstallerConfig();
        LoadLocalizedStrings();
    }

    void SetUp() override {
        if (!channel_.Available()) GTEST_SKIP() << "the channel server is not running (ctest fixture 'channel')";
        cancelRequested = false;
        channel_.BadCertificate(false);
        channel_.PutFile(L"desktop\\win\\pkg.bin", package_);
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        partialPath_ = std::wstring(folder) + L"tavro-fetch-test.partial";
    }

    void TearDown() override {
        cancelRequested = false;
        channel_.BadCertificate(false);
        DeleteFileW(partialPath_.c_str());
    }

    UniqueFile OpenPartial(const std::string& prefix) {
        WriteFileBytes(partialPath_, prefix);
        UniqueFile file(CreateFileW(partialPath_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(file);
        return file;
    }

    Channel channel_;
    testing::StatusRecorder sink_;
    const std::string package_ = Pattern(200);
    std::wstring partialPath_;
    const std::wstring packageUrl_ = L"https://localhost/desktop/win/pkg.bin";
};

// File mode: what is sent, what ends in the file, what comes back as the validator.
TEST_F(FetchUrlTest, FileModeScenarios) {
    struct Scenario {
        const char* name;
        std::string script;
        size_t partial;               // bytes of the package already in the file
        std::string partialBytes;     // or these bytes instead (a stale copy)
        const wchar_t* validator;
        std::uint64_t expected;
        const char* error;            // empty: success
        const char* range;            // expected Range header of the last request, or null
        const char* ifRange;          // expected If-Range header, or null
        size_t requests;
        size_t fileSize;              // file size afterwards
        const wchar_t* validatorOut;  // null: the server's own tag, whatever it is
    };
    const Scenario scenarios[] = {
        {"fresh download", "[]", 0, "", L"", 200, "", nullptr, nullptr, 1, 200, nullptr},
        {"partial file of 0 bytes sends no range", "[]", 0, "", L"\"v1\"", 200, "", nullptr, nullptr, 1, 200, nullptr},
        {"resume with validator", R"([{"action":"serve","etag":"\"v1\""}])", 100, "", L"\"v1\"", 200, "",
         "bytes=100-", "\"v1\"", 1, 200, L"\"v1\""},
        {"resume without validator", "[]", 100, "", L"", 200, "", "bytes=100-", nullptr, 1, 200, nullptr},
        {"changed file restarts at 0", R"([{"action":"serve","etag":"\"new\""}])", 0, std::string(100, 'x'),
         L"\"old\"", 200, "", "bytes=100-", "\"old\"", 1, 200, L"\"new\""},
        {"no entity tag", R"([{"action":"serve","etag":null}])", 0, "", L"", 200, "", nullptr, nullptr, 1, 200, L""},
        {"weak tag kept as sent", R"([{"action":"serve","etag":"W/\"w1\""}])", 0, "", L"", 200, "", nullptr, nullptr, 1,
         200, L"W/\"w1\""},
        {"content range of another span", R"([{"action":"serve","content_range":"bytes 100-149/200"}])", 100, "", L"",
         200, "Invalid resumed range", "bytes=100-", nullptr, 1, 100, nullptr},
        {"content range from another start", R"([{"action":"serve","content_range":"bytes 99-199/200"}])", 100, "",
         L"", 200, "Invalid resumed range", "bytes=100-", nullptr, 1, 100, nullptr},
        {"content range of unknown total", R"([{"action":"serve","content_range":"bytes 100-199/*"}])", 100, "", L"",
         200, "Invalid resumed range", "bytes=100-", nullptr, 1, 100, nullptr},
        {"content range missing", R"([{"action":"serve","content_range":null}])", 100, "", L"", 200,
         "Invalid resumed range", "bytes=100-", nullptr, 1, 100, nullptr},
        {"content range of a hostile length",
         R"([{"action":"serve","content_range":"bytes 100-199/)" + std::string(100000, '9') + R"("}])", 100, "", L"",
         200, "stoull argument out of range", "bytes=100-", nullptr, 1, 100, nullptr},
        {"exactly the expected size", "[]", 0, "", L"", 200, "", nullptr, nullptr, 1, 200, nullptr},
        {"one byte over the expected size", "[]", 0, "", L"", 199, "Response exceeds expected size", nullptr, nullptr,
         1, 0, nullptr},
        {"body longer than announced", R"([{"action":"serve","extra_bytes":1}])", 0, "", L"", 200,
         "Response exceeds expected size", nullptr, nullptr, 1, 0, nullptr},
        {"one byte short", "[]", 0, "", L"", 201, "Incomplete download", nullptr, nullptr, 1, 200, nullptr},
        {"server busy", R"([{"action":"status","status":429}])", 0, "", L"", 200, "HTTP 429: server busy. Retry later.",
         nullptr, nullptr, 1, 0, nullptr},
        {"unavailable", R"([{"action":"status","status":503,"body":"later"}])", 0, "", L"", 200, "HTTP 503", nullptr,
         nullptr, 1, 0, nullptr},
        {"not found", R"([{"action":"status","status":404}])", 0, "", L"", 200, "HTTP 404", nullptr, nullptr, 1, 0,
         nullptr},
        {"range not satisfiable", R"([{"action":"status","status":416}])", 100, "", L"\"v1\"", 200, "HTTP 416",
         "bytes=100-", "\"v1\"", 1, 100, nullptr},
        // The server plays the proxy. The same request goes again after one answer, range
        // and all; Wine never sends the user's logon, so a proxy that insists is refused.
        {"proxy answered once, then serves",
         R"([{"action":"status","status":407,"headers":{"Proxy-Authenticate":"Negotiate"}},)"
         R"({"action":"serve","etag":"\"v1\""}])",
         100, "", L"\"v1\"", 200, "", "bytes=100-", "\"v1\"", 2, 200, L"\"v1\""},
        {"second 407 ends the download",
         R"([{"action":"status","status":407,"headers":{"Proxy-Authenticate":"NTLM"},"times":3}])", 100, "",
         L"\"v1\"", 200, "HTTP 407: proxy sign-in required", "bytes=100-", "\"v1\"", 2, 100, nullptr},
        {"proxy offering Basic only",
         R"([{"action":"status","status":407,"headers":{"Proxy-Authenticate":"Basic realm=\"corp\""}}])", 0, "", L"",
         200, "HTTP 407: proxy sign-in required", nullptr, nullptr, 1, 0, nullptr},
        {"server's own challenge is not answered",
         R"([{"action":"status","status":401,"headers":{"WWW-Authenticate":"Negotiate"}}])", 0, "", L"", 200,
         "HTTP 401", nullptr, nullptr, 1, 0, nullptr},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        channel_.Script(s.script);
        const std::string prefix = s.partialBytes.empty() ? package_.substr(0, s.partial) : s.partialBytes;
        UniqueFile file = OpenPartial(prefix);
        std::wstring validatorOut = L"unset";
        const std::string error =
            ErrorOf([&] { FetchUrl(packageUrl_, file.get(), s.expected, s.validator, &validatorOut); });
        EXPECT_EQ(error, s.error);

        const std::vector<RecordedRequest> requests = channel_.Requests();
        ASSERT_EQ(requests.size(), s.requests);
        const RecordedRequest& last = requests.back();
        EXPECT_EQ(last.Header(L"User-Agent"), L"TavroInstaller/1.0");
        EXPECT_EQ(last.Header(L"Accept-Encoding"), L"identity");
        EXPECT_EQ(last.Header(L"Range"), s.range ? std::optional<std::wstring>(Utf8ToWide(s.range)) : std::nullopt);
        EXPECT_EQ(last.Header(L"If-Range"),
                  s.ifRange ? std::optional<std::wstring>(Utf8ToWide(s.ifRange)) : std::nullopt);

        file.reset();
        const std::string content = ReadFileIfPresent(partialPath_);
        EXPECT_EQ(content.size(), s.fileSize);
        if (s.error[0] == '\0') {
            EXPECT_EQ(content, package_);
            if (s.validatorOut != nullptr) {
                EXPECT_EQ(validatorOut, s.validatorOut);
            } else {
                EXPECT_GE(validatorOut.size(), 2u);
                EXPECT_EQ(validatorOut.front(), L'"');
            }
        } else if (content.size() <= prefix.size()) {
            EXPECT_EQ(content, prefix.substr(0, content.size()));  // the kept prefix is untouched
        } else {
            EXPECT_EQ(content, package_.substr(0, content.size()));  // what arrived is a true prefix
        }
    }
}

TEST_F(FetchUrlTest, IncompleteBodiesFailCleanly) {
    constexpr const char* kNetworkError = "Network error. Check your connection or proxy and retry.";
    struct Scenario {
        const char* name;
        const char* script;
        std::vector<std::string> errors;  // the outcomes the platform may give
    };
    // The server announces 200 bytes and sends 50. A clean close reads as the end of the
    // body, which only the size check catches. A reset may reach the client before or
    // after the response head, so it fails in the read or already in the receive.
    const Scenario scenarios[] = {
        {"body ends early", R"([{"action":"serve","stop_after":50,"close":"clean"}])", {"Incomplete download"}},
        {"connection dropped mid-body", R"([{"action":"serve","stop_after":50,"close":"reset"}])",
         {"Network read failed", "Incomplete download", kNetworkError}},
        {"no answer at all", R"([{"action":"drop","close":"reset"}])", {kNetworkError}},
        {"closed without answer", R"([{"action":"drop","close":"clean"}])", {kNetworkError}},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        channel_.Script(s.script);
        UniqueFile file = OpenPartial("");
        std::wstring validatorOut;
        const std::string error = ErrorOf([&] { FetchUrl(packageUrl_, file.get(), 200, L"", &validatorOut); });
        file.reset();
        const std::string content = ReadFileIfPresent(partialPath_);
        EXPECT_NE(std::find(s.errors.begin(), s.errors.end(), error), s.errors.end()) << error;
        EXPECT_LE(content.size(), 50u);
        EXPECT_EQ(content, package_.substr(0, content.size()));
    }
}

// Redirects are followed by hand, and every target is checked before anything is sent to it.
TEST_F(FetchUrlTest, RedirectScenarios) {
    const std::string hop = R"({"action":"redirect","status":302,"location":"https://localhost/desktop/win/pkg.bin"},)";
    std::string five;
    for (int i = 0; i < 5; ++i) five += hop;
    struct Scenario {
        const char* name;
        std::string script;
        const char* error;
        size_t requests;
    };
    const Scenario scenarios[] = {
        {"five redirects are followed", "[" + five + R"({"action":"serve"}])", "", 6},
        {"a sixth redirect fails", "[" + five + hop + R"({"action":"serve"}])", "Too many redirects", 6},
        {"other allowed host",
         R"([{"action":"redirect","status":301,"location":"https://127.0.0.1/desktop/win/pkg.bin"}])", "", 2},
        {"every 3xx is a redirect", R"([{"action":"redirect","status":307,"location":"https://localhost/desktop/win/pkg.bin"},
                                      {"action":"redirect","status":399,"location":"https://localhost/desktop/win/pkg.bin"}])",
         "", 3},
        {"untrusted host", R"([{"action":"redirect","location":"https://example.com/desktop/win/pkg.bin"}])",
         "Untrusted download host", 1},
        {"plain http", R"([{"action":"redirect","location":"http://localhost/desktop/win/pkg.bin"}])",
         "Untrusted download URL", 1},
        {"other port", R"([{"action":"redirect","location":"https://localhost:8443/desktop/win/pkg.bin"}])",
         "Untrusted download URL", 1},
        {"user information", R"([{"action":"redirect","location":"https://u:p@localhost/desktop/win/pkg.bin"}])",
         "Untrusted download URL", 1},
        {"relative location", R"([{"action":"redirect","location":"/desktop/win/pkg.bin"}])", "Invalid download URL", 1},
        {"no location", R"([{"action":"redirect","location":null}])", "Invalid download URL", 1},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        channel_.Script(s.script);
        const std::string error = ErrorOf([&] {
            EXPECT_EQ(FetchUrl(L"https://localhost/desktop/win/pkg.bin", nullptr, 131072, L"", nullptr), package_);
        });
        EXPECT_EQ(error, s.error);
        EXPECT_EQ(channel_.Requests().size(), s.requests);
    }
    channel_.Script("[]");
}

TEST_F(FetchUrlTest, MemoryModeLimitsAndStatuses) {
    channel_.PutFile(L"desktop\\win\\limit.yml", Pattern(131072, 1));
    channel_.PutFile(L"desktop\\win\\over.yml", Pattern(131073, 2));
    struct Scenario {
        const char* name;
        const wchar_t* url;
        const char* script;
        const char* error;
        size_t size;
    };
    const Scenario scenarios[] = {
        {"exactly at the limit", L"https://localhost/desktop/win/limit.yml", "[]", "", 131072},
        {"one byte over the limit", L"https://localhost/desktop/win/over.yml", "[]", "Response exceeds expected size", 0},
        // No length announced and a gigabyte behind the feed: the read stops at the limit.
        {"endless body", L"https://localhost/desktop/win/limit.yml",
         R"([{"action":"serve","content_length":null,"extra_bytes":1073741824,"close":"reset"}])",
         "Response exceeds expected size", 0},
        {"partial answer", L"https://localhost/desktop/win/limit.yml", R"([{"action":"serve","status":206}])",
         "Unexpected partial manifest", 0},
        {"server busy", L"https://localhost/desktop/win/limit.yml", R"([{"action":"status","status":429}])",
         "HTTP 429: server busy. Retry later.", 0},
        {"server error", L"https://localhost/desktop/win/limit.yml", R"([{"action":"status","status":500}])",
         "HTTP 500", 0},
        {"missing file", L"https://localhost/desktop/win/none.yml", "[]", "HTTP 404", 0},
        {"untrusted first URL", L"https://example.com/desktop/win/limit.yml", "[]", "Untrusted download host", 0},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        channel_.Script(s.script);
        std::string body;
        const std::string error = ErrorOf([&] { body = FetchUrl(s.url, nullptr, kFeedSizeLimit, L"\"v\"", nullptr); });
        EXPECT_EQ(error, s.error);
        EXPECT_EQ(body.size(), s.size);
        for (const RecordedRequest& request : channel_.Requests()) {
            EXPECT_FALSE(request.Header(L"Range").has_value());  // memory mode never resumes
            EXPECT_FALSE(request.Header(L"If-Range").has_value());
        }
    }
    EXPECT_TRUE(sink_.Drain().empty());  // memory mode posts no progress
}

// Servers that cannot prove who they are, and one that is not there. Wine's WinHTTP names no
// failed check (the send fails with 12157 alone), so there the names come from the
// download's own second look at the certificate.
TEST_F(FetchUrlTest, UntrustedAndUnreachableServers) {
    // 127.1 reaches the channel server under a name its certificate does not carry; nothing
    // listens on 127.0.0.2.
    LoadInstallerConfig(R"({"allowedHosts":["localhost","127.1","127.0.0.2"]})");
    struct Scenario {
        const char* name;
        bool badCertificate;
        const wchar_t* url;
        const char* error;
    };
    const Scenario scenarios[] = {
        // As a network's sign-in page or a company's inspection presents.
        {"authority that no store holds", true, L"https://localhost/desktop/win/pkg.bin",
         "Untrusted connection: unknown_authority"},
        {"certificate of another name", false, L"https://127.1/desktop/win/pkg.bin",
         "Untrusted connection: wrong_name"},
        {"connection refused", false, L"https://127.0.0.2/desktop/win/pkg.bin",
         "Network error. Check your connection or proxy and retry."},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        channel_.Script("[]");
        channel_.BadCertificate(s.badCertificate);
        EXPECT_EQ(ErrorOf([&] { FetchUrl(s.url, nullptr, 131072, L"", nullptr); }), s.error);
        EXPECT_TRUE(channel_.Requests().empty());  // no request went over any connection
    }
    LoadInstallerConfig();
}

// A slow body: the percentage rises, at most one post per 200 ms, counting a resumed share.
TEST_F(FetchUrlTest, ProgressRisesAndIsRateLimited) {
    const std::string big = Pattern(2 << 20, 5);
    channel_.PutFile(L"desktop\\win\\big.bin", big);
    channel_.Script(R"([{"action":"serve","chunk_size":65536,"delay_ms":60}])");
    UniqueFile file = OpenPartial(big.substr(0, 1 << 20));
    const auto start = std::chrono::steady_clock::now();
    FetchUrl(L"https://localhost/desktop/win/big.bin", file.get(), big.size(), L"", nullptr);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::vector<StatusUpdate> updates = sink_.Drain();
    ASSERT_GE(updates.size(), 2u);
    EXPECT_LE(updates.size(), static_cast<size_t>(elapsed / std::chrono::milliseconds(200)) + 1);
    int previous = 50;  // the resumed half counts from the start
    for (const StatusUpdate& update : updates) {
        EXPECT_EQ(update.status, L"Downloading Tavro\x2026");
        EXPECT_TRUE(update.detail.empty());
        EXPECT_GE(update.progress, previous);
        EXPECT_LE(update.progress, 100);
        previous = update.progress;
    }
    file.reset();
    EXPECT_EQ(ReadFileIfPresent(partialPath_), big);
}

// A pause request from the window thread ends the call at the next chunk and keeps what was written.
TEST_F(FetchUrlTest, PauseKeepsTheWrittenPrefix) {
    const std::string big = Pattern(4 << 20, 9);
    channel_.PutFile(L"desktop\\win\\slow.bin", big);
    channel_.Script(R"([{"action":"serve","chunk_size":65536,"delay_ms":100}])");
    UniqueFile file = OpenPartial("");
    std::string error;
    std::thread worker([&] {
        error = ErrorOf([&] { FetchUrl(L"https://localhost/desktop/win/slow.bin", file.get(), big.size(), L"", nullptr); });
    });
    for (int i = 0; i < 300; ++i) {
        LARGE_INTEGER size{};
        GetFileSizeEx(file.get(), &size);
        if (size.QuadPart >= 4 * 65536) break;
        Sleep(20);
    }
    const auto pausedAt = std::chrono::steady_clock::now();
    cancelRequested = true;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - pausedAt, std::chrono::seconds(2));
    EXPECT_EQ(error, "Download paused. Click Retry to resume.");
    file.reset();
    const std::string content = ReadFileIfPresent(partialPath_);
    EXPECT_GE(content.size(), 4u * 65536);
    EXPECT_LT(content.size(), big.size());
    EXPECT_EQ(content, big.substr(0, content.size()));

    // A pause already requested stops the call before the first request.
    channel_.Script("[]");
    EXPECT_EQ(ErrorOf([&] { FetchUrl(packageUrl_, nullptr, 131072, L"", nullptr); }),
              "Download paused. Click Retry to resume.");
    EXPECT_TRUE(channel_.Requests().empty());
}

}  // namespace
}  // namespace tavro::net

namespace tavro::net {
namespace {

// The cached package brought up to date through the download, with its validator file.
TEST_F(FetchUrlTest, CachedPackageResumesAndKeepsItsValidator) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring cacheDirectory = std::wstring(temp) + L"tavro-package-download-test";
    CreateDirectoryW(cacheDirectory.c_str(), nullptr);
    const std::wstring digest(128, L'a');
    struct Scenario {
        const char* name;
        const char* script;
        const char* keptTag;      // validator file before
        const char* error;
        const wchar_t* validator;  // the run's validator afterwards
        const char* fileTag;       // validator file afterwards
        size_t fileSize;
    };
    const Scenario scenarios[] = {
        {"same file resumes", R"([{"action":"serve","etag":"\"v1\""}])", "\"v1\"", "", L"\"v1\"", "\"v1\"", 200},
        {"changed file restarts", R"([{"action":"serve","etag":"\"v2\""}])", "\"v1\"", "", L"\"v2\"", "\"v2\"", 200},
        // The file now holds the start of the new copy: its tag is on disk before the body.
        {"restart that breaks off keeps the new tag",
         R"([{"action":"serve","etag":"\"v3\"","stop_after":50,"close":"clean"}])", "\"v1\"", "Incomplete download",
         L"\"v3\"", "\"v3\"", 50},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name);
        channel_.Script(s.script);
        cache::CachedPackage package = cache::OpenCachedPackage(cacheDirectory, digest);
        package.file.reset();  // the open package admits no other writer
        WriteFileBytes(package.path, package_.substr(0, 100));
        const std::wstring validatorPath = cache::ValidatorFileName(package.path);
        WriteFileBytes(validatorPath, s.keptTag);
        package = cache::OpenCachedPackage(cacheDirectory, digest);
        ASSERT_EQ(package.size, 100u);

        std::wstring validator = cache::ReadValidator(validatorPath);
        EXPECT_EQ(validator, Utf8ToWide(s.keptTag));
        const std::string error = ErrorOf([&] { DownloadCachedPackage(package, packageUrl_, 200, validator); });
        EXPECT_EQ(error, s.error);
        EXPECT_EQ(validator, s.validator);
        EXPECT_EQ(ReadFileIfPresent(validatorPath), s.fileTag);
        EXPECT_EQ(channel_.Requests().at(0).Header(L"If-Range"), Utf8ToWide(s.keptTag));
        package.file.reset();
        const std::string content = ReadFileIfPresent(package.path);
        EXPECT_EQ(content.size(), s.fileSize);
        EXPECT_EQ(content, package_.substr(0, content.size()));
        DeleteFileW(package.path.c_str());
        DeleteFileW(validatorPath.c_str());
    }
    RemoveDirectoryW(cacheDirectory.c_str());
}

}  // namespace
}  // namespace tavro::net
