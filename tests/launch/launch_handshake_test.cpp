// The launch handshake against the real demo application under Wine. Every test copies the
// signed Tavro.exe into a folder of its own and points LocalAppData at another (see
// tests/support/local_app_data_override.h), so the receipts folder, the journal and the
// application's log all start empty. The application needs a display: run under xvfb-run.
#include "launch/launch_handshake.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cache/payload_cache.h"
#include "launch_fixtures.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/installer_config.h"
#include "shared/localized_strings.h"
#include "shared/status_sink.h"
#include "support/error_of.h"
#include "support/files.h"
#include "support/local_app_data_override.h"
#include "support/processes.h"
#include "support/status_recorder.h"

namespace tavro::launch {
namespace {

using testing::ErrorOf;
using testing::Exists;
using testing::LocalAppDataOverride;
using testing::MakeUnixSymlink;
using testing::ReadFileBytes;
using testing::WriteFileBytes;
using Clock = std::chrono::steady_clock;

constexpr char kSessionSwitch[] = "--tavro-installer-session=";
// The en-US texts of the two status keys: the test runs with LC_ALL=C.UTF-8, which Wine
// takes as English.
constexpr char kOpeningText[] = "Opening Tavro\xE2\x80\xA6";
constexpr char kInstalledText[] = "Tavro is installed.";

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

bool IsLaunchId(const std::string& id) {
    static const std::regex kId("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    return std::regex_match(id, kId);
}

std::int64_t UnixNowMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto units =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (units - 116444736000000000LL) / 10000;
}

// Waits for the applications started from `path` to leave on their own; what is still
// running after the wait is terminated by id. Returns how many had to be terminated.
int StopProcessesStartedFrom(const std::wstring& path, std::chrono::milliseconds wait) {
    return testing::StopProcesses(L"Tavro.exe", path, wait);
}

class LaunchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The installer calls the shell from a single-threaded apartment.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        LoadInstallerConfig();
        LoadLocalizedStrings();
    }

    void SetUp() override {
        folder_.emplace();
        appFolder_ = folder_->Root() + L"\\app";
        app_ = appFolder_ + L"\\Tavro.exe";
        appLog_ = folder_->Root() + L"\\app-log.jsonl";
        ASSERT_TRUE(CreateDirectoryW(appFolder_.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(kDemoApp, app_.c_str(), TRUE)) << "build the demo first: " << WideToUtf8(kDemoApp);
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LOG", appLog_.c_str());
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_MODE", nullptr);
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LIFETIME_MS", nullptr);
    }

    void TearDown() override {
        // Every application must be gone before its folder is deleted.
        const int terminated = StopProcessesStartedFrom(app_, std::chrono::seconds(15));
        EXPECT_EQ(terminated, 0) << "an application outlived its lifetime and was terminated";
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LOG", nullptr);
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_MODE", nullptr);
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LIFETIME_MS", nullptr);
        sink_.Drain();
        folder_.reset();
    }

    // The application's harness switches for the next start.
    static void AppMode(const wchar_t* mode, int lifetimeMs) {
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_MODE", mode);
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LIFETIME_MS", std::to_wstring(lifetimeMs).c_str());
    }

    // Waits until no application started from the copy runs any more (its log is complete).
    void WaitForAppsToExit() {
        EXPECT_EQ(StopProcessesStartedFrom(app_, std::chrono::seconds(15)), 0)
            << "an application outlived its lifetime and was terminated";
    }

    // Every line of the application's log; an absent log is an empty one.
    std::vector<nlohmann::json> AppLog() const {
        std::vector<nlohmann::json> lines;
        if (!Exists(appLog_)) return lines;
        const std::string bytes = ReadFileBytes(appLog_);
        std::size_t start = 0;
        while (start < bytes.size()) {
            std::size_t end = bytes.find('\n', start);
            if (end == std::string::npos) end = bytes.size();
            std::string line = bytes.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
            start = end + 1;
        }
        return lines;
    }

    // The command-line arguments (without the program) of every start the log records.
    std::vector<std::vector<std::string>> AppStarts() const {
        std::vector<std::vector<std::string>> starts;
        for (const auto& line : AppLog()) {
            if (line.value("event", "") != "start") continue;
            std::vector<std::string> arguments = line.at("argv").get<std::vector<std::string>>();
            if (!arguments.empty()) arguments.erase(arguments.begin());
            starts.push_back(arguments);
        }
        return starts;
    }

    // The launch id that the one recorded start was given; fails the test unless the
    // application got exactly one argument, the session switch with a well-formed id.
    std::string OnlyStartedId() const {
        const auto starts = AppStarts();
        EXPECT_EQ(starts.size(), 1u);
        if (starts.size() != 1) return "";
        EXPECT_EQ(starts[0].size(), 1u);
        if (starts[0].size() != 1) return "";
        const std::string& argument = starts[0][0];
        EXPECT_EQ(argument.rfind(kSessionSwitch, 0), 0u) << argument;
        const std::string id = argument.substr(std::min(argument.size(), sizeof kSessionSwitch - 1));
        EXPECT_TRUE(IsLaunchId(id)) << argument;
        return id;
    }

    // The journal's event names, in order.
    std::vector<std::string> Journal() const { return testing::ReadJournal(folder_->CacheDirectory()); }

    std::wstring ReceiptFolder() const { return folder_->CacheDirectory() + L"\\receipts"; }

    // The status texts posted since the last call; each must carry no detail and no percentage.
    std::vector<std::string> PostedStatuses() {
        std::vector<std::string> texts;
        for (const auto& update : sink_.Drain()) {
            EXPECT_TRUE(update.detail.empty()) << WideToUtf8(update.detail);
            EXPECT_EQ(update.progress, -1);
            texts.push_back(WideToUtf8(update.status));
        }
        return texts;
    }

    std::optional<LocalAppDataOverride> folder_;
    testing::StatusRecorder sink_;
    std::wstring appFolder_;
    std::wstring app_;
    std::wstring appLog_;
};

// ---------------------------------------------------------------------------------------
// The receipt check, on files written here for the copied, genuinely versioned executable.

class ReceiptTest : public LaunchTest {
protected:
    static constexpr wchar_t kId[] = L"3f2a9c1e-0b7d-4e55-a1c2-9d8e7f6a5b4c";

    std::string Receipt(const std::string& id, const std::string& stage, const std::string& executable,
                        const std::string& version) const {
        // In the order the application writes them.
        return nlohmann::ordered_json{
            {"sessionId", id}, {"stage", stage}, {"executable", executable}, {"appVersion", version}}
            .dump();
    }

    std::wstring ReceiptPath() const { return folder_->Root() + L"\\test.receipt.json"; }
};

TEST_F(ReceiptTest, ConfirmsOnlyAReceiptThatEchoesTheSessionExactly) {
    const std::string id = WideToUtf8(kId);
    const std::string exe = WideToUtf8(app_);
    const std::string version = WideToUtf8(kDemoAppVersion);
    std::string upperExe = exe, lowerExe = exe, slashedExe = exe, upperId = id;
    for (char& c : upperExe) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : lowerExe) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : slashedExe) c = c == '\\' ? '/' : c;
    for (char& c : upperId) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::string right = Receipt(id, "main-window-created", exe, version);
    nlohmann::ordered_json withExtra = nlohmann::ordered_json::parse(right);
    withExtra["pid"] = 42;
    withExtra["note"] = "ignored";
    const auto without = [&](const char* key) {
        nlohmann::json object = nlohmann::json::parse(right);
        object.erase(key);
        return object.dump();
    };
    const auto with = [&](const char* key, const nlohmann::json& value) {
        nlohmann::json object = nlohmann::json::parse(right);
        object[key] = value;
        return object.dump();
    };
    // Blanks before the closing brace, up to `size` bytes in all.
    const auto padded = [&](std::size_t size) {
        return right.substr(0, right.size() - 1) + std::string(size - right.size(), ' ') + "}";
    };

    const struct {
        const char* name;
        std::string bytes;
        bool confirms;
    } cases[] = {
        {"the right receipt", right, true},
        {"other members besides", withExtra.dump(), true},
        {"executable in upper case", Receipt(id, "main-window-created", upperExe, version), true},
        {"executable in lower case", Receipt(id, "main-window-created", lowerExe, version), true},
        {"members in another order, with white space",
         nlohmann::ordered_json{{"appVersion", version}, {"executable", exe}, {"stage", "main-window-created"},
                                {"sessionId", id}}.dump(2) + "\r\n",
         true},
        {"stage starting", Receipt(id, "starting", exe, version), false},
        {"stage in another case", Receipt(id, "Main-Window-Created", exe, version), false},
        {"stage empty", Receipt(id, "", exe, version), false},
        {"another session id", Receipt("00000000-0000-0000-0000-000000000000", "main-window-created", exe, version),
         false},
        {"session id in upper case", Receipt(upperId, "main-window-created", exe, version), false},
        {"session id with braces", Receipt("{" + id + "}", "main-window-created", exe, version), false},
        {"executable with forward slashes", Receipt(id, "main-window-created", slashedExe, version), false},
        {"executable with a trailing blank", Receipt(id, "main-window-created", exe + " ", version), false},
        {"executable of another folder",
         Receipt(id, "main-window-created", WideToUtf8(folder_->Root() + L"\\other\\Tavro.exe"), version), false},
        {"appVersion 0.0.1", Receipt(id, "main-window-created", exe, "0.0.1"), false},
        {"appVersion with a fourth part", Receipt(id, "main-window-created", exe, version + ".0"), false},
        {"appVersion 1.1.0", Receipt(id, "main-window-created", exe, "1.1.0"), false},
        {"not JSON", "sessionId=" + id, false},
        {"half written", right.substr(0, right.size() / 2), false},
        {"a JSON array", "[" + right + "]", false},
        {"a JSON string", "\"" + id + "\"", false},
        {"sessionId missing", without("sessionId"), false},
        {"stage missing", without("stage"), false},
        {"executable missing", without("executable"), false},
        {"appVersion missing", without("appVersion"), false},
        {"sessionId a number", with("sessionId", 3), false},
        {"stage null", with("stage", nullptr), false},
        {"executable an array", with("executable", nlohmann::json::array({exe})), false},
        {"appVersion a number", with("appVersion", 1.0), false},
        {"empty file", "", false},
        {"64 KiB, the most that is read", padded(65536), true},
        {"one byte more: read up to its last blank", padded(65537), false},
    };
    for (const auto& c : cases) {
        WriteFileBytes(ReceiptPath(), c.bytes);
        bool confirms = !c.confirms;
        EXPECT_NO_THROW(confirms = ReceiptConfirmsLaunch(ReceiptPath(), kId, app_)) << c.name;
        EXPECT_EQ(confirms, c.confirms) << c.name << ": " << c.bytes.substr(0, 300);
    }
}

TEST_F(ReceiptTest, TheVersionComesFromTheStartedFileItself) {
    // Two signed builds, 1.0.0 and 1.1.0, side by side: a receipt is checked against the
    // version of the file that was started, not against a fixed text.
    const std::wstring newer = folder_->Root() + L"\\newer\\Tavro.exe";
    ASSERT_TRUE(CreateDirectoryW((folder_->Root() + L"\\newer").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(kNewerDemoApp, newer.c_str(), TRUE));
    const std::string id = WideToUtf8(kId);
    const struct {
        const std::wstring& executable;
        const char* version;
        bool confirms;
    } cases[] = {
        {app_, "1.0.0", true},
        {app_, "1.1.0", false},
        {newer, "1.1.0", true},
        {newer, "1.0.0", false},
    };
    for (const auto& c : cases) {
        WriteFileBytes(ReceiptPath(), Receipt(id, "main-window-created", WideToUtf8(c.executable), c.version));
        EXPECT_EQ(ReceiptConfirmsLaunch(ReceiptPath(), kId, c.executable), c.confirms)
            << WideToUtf8(c.executable) << " " << c.version;
    }
}

TEST_F(ReceiptTest, ReadsTheReceiptAsUtf8) {
    // A folder name outside ASCII: the "executable" member must be decoded from UTF-8 to match.
    const std::wstring folder = folder_->Root() + L"\\T\u00E4vro \u65E5\u672C \U0001F600";
    const std::wstring exe = folder + L"\\Tavro.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(kDemoApp, exe.c_str(), TRUE));
    const std::string receipt = Receipt(WideToUtf8(kId), "main-window-created", WideToUtf8(exe), "1.0.0");
    WriteFileBytes(ReceiptPath(), receipt);
    EXPECT_TRUE(ReceiptConfirmsLaunch(ReceiptPath(), kId, exe));
}

TEST_F(ReceiptTest, AReceiptThatCannotBeReadIsNoConfirmation) {
    const std::wstring directory = folder_->Root() + L"\\a-folder.receipt.json";
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    const std::wstring missingExe = folder_->Root() + L"\\gone\\Tavro.exe";
    WriteFileBytes(ReceiptPath(), Receipt(WideToUtf8(kId), "main-window-created", WideToUtf8(missingExe), "1.0.0"));
    const struct {
        const char* name;
        std::wstring receipt;
        std::wstring executable;
    } cases[] = {
        {"missing file", folder_->Root() + L"\\absent.receipt.json", app_},
        {"missing folder", folder_->Root() + L"\\absent\\x.receipt.json", app_},
        {"a directory", directory, app_},
        {"an executable without a version to compare", ReceiptPath(), missingExe},
    };
    for (const auto& c : cases) {
        bool confirms = true;
        EXPECT_NO_THROW(confirms = ReceiptConfirmsLaunch(c.receipt, kId, c.executable)) << c.name;
        EXPECT_FALSE(confirms) << c.name;
    }
}

// ---------------------------------------------------------------------------------------
// The whole handshake with the demo application.

TEST_F(LaunchTest, ANormalStartIsConfirmedAndLeavesNoSessionFiles) {
    AppMode(L"normal", 3000);
    bool confirmed = false;
    ASSERT_NO_THROW(confirmed = LaunchWithHandshake(app_));
    EXPECT_TRUE(confirmed);
    // Checked at once: the application may still be running.
    EXPECT_TRUE(FolderEntries(ReceiptFolder()).empty());
    EXPECT_TRUE(Exists(ReceiptFolder()));
    ASSERT_FALSE(Journal().empty());
    EXPECT_EQ(Journal().back(), "app_launch_confirmed");
    EXPECT_EQ(PostedStatuses(), (std::vector<std::string>{kOpeningText, kInstalledText}));

    WaitForAppsToExit();
    const std::string id = OnlyStartedId();
    EXPECT_EQ(id.size(), 36u);
}

TEST_F(LaunchTest, AReceiptOfTheWrongStageIsConfirmedByTheRunningProcess) {
    // The receipt alone would not confirm; the application stays up for the whole poll.
    AppMode(L"wrong-stage", 3000);
    bool confirmed = false;
    const auto start = Clock::now();
    ASSERT_NO_THROW(confirmed = LaunchWithHandshake(app_));
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(confirmed);
    EXPECT_LT(elapsed, std::chrono::milliseconds(4500)) << "confirmation should not wait for the last poll";
    EXPECT_EQ(Journal().back(), "app_launch_confirmed");
    EXPECT_TRUE(FolderEntries(ReceiptFolder()).empty());
    WaitForAppsToExit();
    OnlyStartedId();
}

TEST_F(LaunchTest, AnApplicationThatExitsAtOnceIsUnconfirmedAfterFiveSeconds) {
    // It writes no receipt and is gone at once, so only the last of the 25 polls ends the wait.
    AppMode(L"exit-at-once", 1000);
    const auto start = Clock::now();
    bool confirmed = true;
    ASSERT_NO_THROW(confirmed = LaunchWithHandshake(app_));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_FALSE(confirmed);
    EXPECT_GE(elapsed.count(), 4500);
    EXPECT_LE(elapsed.count(), 8000);
    EXPECT_TRUE(FolderEntries(ReceiptFolder()).empty());
    EXPECT_EQ(Journal(), (std::vector<std::string>{"app_launch_unconfirmed"}));
    EXPECT_EQ(PostedStatuses(), (std::vector<std::string>{kOpeningText, kInstalledText}));
    WaitForAppsToExit();
    OnlyStartedId();
}

TEST_F(LaunchTest, AReceiptAloneConfirmsAnApplicationThatIsAlreadyGone) {
    // The real application cannot start, answer and exit within one 200 ms poll under
    // Wine, so this test answers for it: the started process exits at once, and only
    // once its log shows the exit does the test write the receipt. The process check can
    // then see nothing; the receipt is the only signal there is.
    AppMode(L"exit-at-once", 1000);
    std::atomic<bool> stop{false};
    std::atomic<bool> answered{false};
    std::thread answerer([&] {
        const auto exited = [&] {
            for (const auto& line : AppLog()) {
                if (line.value("event", "") == "exit") return true;
            }
            return false;
        };
        while (!stop && !exited()) Sleep(20);
        for (const std::wstring& name : FolderEntries(ReceiptFolder())) {
            const std::size_t suffix = name.find(L".request.json");
            if (suffix == std::wstring::npos) continue;
            WriteFileBytes(ReceiptFolder() + L"\\" + name.substr(0, suffix) + L".receipt.json",
                           nlohmann::ordered_json{{"sessionId", WideToUtf8(name.substr(0, suffix))},
                                                  {"stage", "main-window-created"},
                                                  {"executable", WideToUtf8(app_)},
                                                  {"appVersion", WideToUtf8(kDemoAppVersion)}}
                               .dump());
            answered = true;
        }
    });
    bool confirmed = false;
    const auto start = Clock::now();
    EXPECT_NO_THROW(confirmed = LaunchWithHandshake(app_));
    const auto elapsed = Clock::now() - start;
    stop = true;
    answerer.join();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(confirmed);
    EXPECT_LT(elapsed, std::chrono::milliseconds(4500)) << "confirmed by the receipt, before the last poll";
    EXPECT_EQ(Journal(), (std::vector<std::string>{"app_launch_confirmed"}));
    EXPECT_TRUE(FolderEntries(ReceiptFolder()).empty());
    WaitForAppsToExit();
}

// No request can be left (a full disk gives the same): the application is started without
// the session switch and confirmed as a running process.
TEST_F(LaunchTest, AReceiptFolderThatCannotBeMadeStillStartsTheApplication) {
    ASSERT_NO_THROW(cache::OpenPayloadCache());
    WriteFileBytes(ReceiptFolder(), "a file where the folder belongs");
    AppMode(L"normal", 3000);
    EXPECT_TRUE(LaunchWithHandshake(app_));
    EXPECT_EQ(AppStarts(), std::vector<std::vector<std::string>>{{}});
    EXPECT_EQ(ReadFileBytes(ReceiptFolder()), "a file where the folder belongs");
    EXPECT_EQ(Journal(), std::vector<std::string>{"app_launch_confirmed"});
}

TEST_F(LaunchTest, AStartThatNeitherCheckCanMatchPollsToTheEndAndCleansUp) {
    // Windows drops a trailing dot when it opens a file, so this path starts the real
    // Tavro.exe; but the process's image and its receipt then name the file without the
    // dot, which neither the receipt check nor the process check accepts. The application
    // stays up and writes a well-formed receipt: the handshake must still poll to the end,
    // and must remove that receipt as well as its own request.
    const std::wstring dotted = app_ + L".";
    AppMode(L"normal", 8000);
    std::atomic<bool> done{false};
    std::wstring requestName;
    std::string requestBytes;
    bool receiptSeen = false;
    std::thread watcher([&] {
        while (!done) {
            for (const std::wstring& name : FolderEntries(ReceiptFolder())) {
                if (name.ends_with(L".receipt.json")) receiptSeen = true;
                if (requestBytes.empty() && name.ends_with(L".request.json")) {
                    try {
                        requestBytes = ReadFileBytes(ReceiptFolder() + L"\\" + name);
                        requestName = name;
                    } catch (const std::exception&) {
                    }
                }
            }
            Sleep(20);
        }
    });
    const std::int64_t before = UnixNowMs();
    const auto start = Clock::now();
    bool confirmed = true;
    std::string error;
    try {
        confirmed = LaunchWithHandshake(dotted);
    } catch (const std::exception& e) {
        error = e.what();
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    const std::int64_t after = UnixNowMs();
    done = true;
    watcher.join();

    ASSERT_EQ(error, "");
    EXPECT_FALSE(confirmed);
    EXPECT_GE(elapsed.count(), 4500);
    EXPECT_LE(elapsed.count(), 8000);
    EXPECT_TRUE(receiptSeen) << "the application wrote no receipt while the handshake polled";
    EXPECT_TRUE(FolderEntries(ReceiptFolder()).empty());
    EXPECT_EQ(Journal(), (std::vector<std::string>{"app_launch_unconfirmed"}));
    EXPECT_EQ(PostedStatuses(), (std::vector<std::string>{kOpeningText, kInstalledText}));

    WaitForAppsToExit();
    const std::string id = OnlyStartedId();
    bool receiptWritten = false;
    for (const auto& line : AppLog()) {
        if (line.value("event", "") == "receipt") receiptWritten = line.value("written", false);
    }
    EXPECT_TRUE(receiptWritten) << "the application did not accept the request";
    // The request: named after the id, exactly two members, no BOM, no line end.
    ASSERT_FALSE(requestBytes.empty()) << "the request file was never seen";
    EXPECT_EQ(WideToUtf8(requestName), id + ".request.json");
    EXPECT_EQ(requestBytes.front(), '{') << requestBytes;
    EXPECT_EQ(requestBytes.back(), '}') << requestBytes;
    const nlohmann::json request = nlohmann::json::parse(requestBytes);
    ASSERT_TRUE(request.is_object());
    EXPECT_EQ(request.size(), 2u) << requestBytes;
    EXPECT_EQ(request.value("sessionId", ""), id);
    ASSERT_TRUE(request.contains("expiresAt") && request["expiresAt"].is_number()) << requestBytes;
    const double expiresAt = request["expiresAt"].get<double>();
    EXPECT_GE(expiresAt, static_cast<double>(before + 600000));
    EXPECT_LE(expiresAt, static_cast<double>(after + 600000));
}

TEST_F(LaunchTest, AFileNotSignedByThePublisherIsNeverStarted) {
    const struct {
        const char* name;
        const wchar_t* source;
    } cases[] = {
        {"unsigned", kUnsignedApp},
        {"other publisher", kOtherPublisherApp},
        {"one code byte changed", kTamperedApp},
    };
    for (const auto& c : cases) {
        const std::wstring folder = folder_->Root() + L"\\" + Utf8ToWide(c.name);
        const std::wstring exe = folder + L"\\Tavro.exe";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(c.source, exe.c_str(), TRUE)) << c.name;
        AppMode(L"normal", 1000);
        EXPECT_EQ(ErrorOf([&] { LaunchWithHandshake(exe); }), "Application signature or publisher mismatch") << c.name;
        EXPECT_EQ(StopProcessesStartedFrom(exe, std::chrono::milliseconds(0)), 0) << c.name;
    }
    Sleep(1000);  // a start that slipped through would have logged by now
    EXPECT_TRUE(AppLog().empty());
    EXPECT_FALSE(Exists(ReceiptFolder()));
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(PostedStatuses().empty());
}

// Nothing goes through the link; the user still gets the application, started without a
// request and confirmed as a running process.
TEST_F(LaunchTest, ALinkInPlaceOfTheReceiptFolderIsNeverUsed) {
    // A Unix symbolic link inside the prefix shows as a reparse point, as a junction would.
    const std::wstring target = folder_->Root() + L"\\elsewhere";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    ASSERT_NO_THROW(cache::OpenPayloadCache());
    MakeUnixSymlink(target, ReceiptFolder());
    const DWORD attributes = GetFileAttributesW(ReceiptFolder().c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "this Wine does not show the link as a reparse point";

    AppMode(L"normal", 3000);
    bool confirmed = false;
    EXPECT_EQ(ErrorOf([&] { confirmed = LaunchWithHandshake(app_); }), "");
    EXPECT_TRUE(confirmed);
    EXPECT_TRUE(FolderEntries(target).empty());
    EXPECT_EQ(AppStarts(), std::vector<std::vector<std::string>>{{}});
    EXPECT_EQ(Journal(), std::vector<std::string>{"app_launch_confirmed"});
}

TEST_F(LaunchTest, EveryLaunchUsesANewId) {
    AppMode(L"normal", 1500);
    ASSERT_TRUE(LaunchWithHandshake(app_));
    ASSERT_TRUE(LaunchWithHandshake(app_));
    EXPECT_TRUE(FolderEntries(ReceiptFolder()).empty());
    WaitForAppsToExit();
    const auto starts = AppStarts();
    ASSERT_EQ(starts.size(), 2u);
    ASSERT_EQ(starts[0].size(), 1u);
    ASSERT_EQ(starts[1].size(), 1u);
    EXPECT_NE(starts[0][0], starts[1][0]);
    for (const auto& start : starts) {
        ASSERT_EQ(start[0].rfind(kSessionSwitch, 0), 0u);
        EXPECT_TRUE(IsLaunchId(start[0].substr(sizeof kSessionSwitch - 1))) << start[0];
    }
    EXPECT_EQ(Journal(), (std::vector<std::string>{"app_launch_confirmed", "app_launch_confirmed"}));
}

}  // namespace
}  // namespace tavro::launch
