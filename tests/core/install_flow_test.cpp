// The install run from end to end under Wine: the real flow on a detached worker thread,
// hosted by a hidden window that stands in for the installer window: it obeys the window's
// own Retry and close rules (ui/window_rules.h) and records what the worker posts.
// Everything else is real: the channel server, the signed demo product and its switches,
// the prefix's registry, files and processes. One table of scenarios, each a list of runs
// (presses of Retry, then of Enter while Retry shows).
#include "core/install_flow.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/file_digest.h"
#include "cache/payload_cache.h"
#include "channel/channel_client.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"
#include "shared/installer_config.h"
#include "shared/localized_strings.h"
#include "shared/process_state.h"
#include "shared/status_sink.h"
#include "support/files.h"
#include "support/local_app_data_override.h"
#include "support/processes.h"
#include "ui/window_rules.h"
#include "ui/window_status_sink.h"
#include "verify/app_version.h"
#include "verify/installed_app.h"
#include "verify/running_processes.h"

namespace tavro::core {
namespace {

using Clock = std::chrono::steady_clock;

#ifndef DBG_PRINTEXCEPTION_WIDE_C
constexpr DWORD DBG_PRINTEXCEPTION_WIDE_C = 0x4001000A;
#endif
using testing::Channel;
using testing::Env;
using testing::LocalAppDataOverride;
using testing::ReadFileIfPresent;
using testing::RecordedRequest;
using testing::WindowsPath;
using testing::WriteFileBytes;

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tavro";
constexpr char kFeedPath[] = "/desktop/win/latest.yml";

std::wstring DemoFile(const std::wstring& relative) {
    return WindowsPath(Env("TAVRO_BUILD_DIR")) + L"\\demo\\" + relative;
}

// ---- Debugger output: OutputDebugStringW raises an exception that a debugger (or this
// handler) sees first, so the test can read what a debugger would print.
std::mutex debugMutex;
std::vector<std::string> debugLines;

LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (record.NumberParameters >= 2 && (record.ExceptionCode == DBG_PRINTEXCEPTION_C ||
                                         record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C)) {
        std::string text = record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C
                               ? WideToUtf8(reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]))
                               : std::string(reinterpret_cast<const char*>(record.ExceptionInformation[1]));
        const std::lock_guard lock(debugMutex);
        if (debugLines.empty() || debugLines.back() != text) debugLines.push_back(std::move(text));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// ---- The window's part.
struct Posted {
    enum Kind { Status, ShowRetry, Close, KeptOpen } kind;  // KeptOpen: a WM_CLOSE the rules refused
    std::wstring text;
    int progress = -1;
    Clock::time_point at;
};

class FlowWindow {
public:
    FlowWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TavroTestFlowWindow";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        sink_ = ui::WindowStatusSink(window_);
        SetStatusSink(&sink_);
    }
    ~FlowWindow() {
        SetStatusSink(nullptr);
        DestroyWindow(window_);
    }

    // The Retry command: the window's rules set the flags and name the worker, which starts
    // detached. False when the rules ignored the command.
    bool Retry() {
        const ui::RetryStart start = ui::PressRetry();
        if (start != ui::RetryStart::LaunchRetry && start != ui::RetryStart::InstallFlow) return false;
        retryShown_ = false;
        auto done = std::make_shared<std::atomic<bool>>(false);
        workerDone_ = done;
        std::thread([start, done] {
            start == ui::RetryStart::LaunchRetry ? RunLaunchRetry() : RunInstallFlow();
            *done = true;
        }).detach();
        return true;
    }

    // Enter: a Retry press only while the button shows.
    bool PressEnter() { return ui::EnterPressesRetry(retryShown_) && Retry(); }

    // A close from the title bar, decided by the window's rules.
    ui::CloseResult RequestClose() {
        closeRequestedAt_ = Clock::now();
        return ui::RequestClose(AnnouncePause);
    }

    // Starts a run (Enter after a failure, else Retry) and pumps messages until the worker
    // has ended; `tick` runs about every 20 ms.
    std::vector<Posted> Run(const std::function<void(FlowWindow&)>& tick) {
        posted_.clear();
        closeRequestedAt_.reset();
        if (!(retryShown_ ? PressEnter() : Retry())) {
            ADD_FAILURE() << "the window's rules did not start a run";
            return {};
        }
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        for (;;) {
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            if (*workerDone_ && !flowRunning) break;
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "the run did not end within two minutes";
                cancelRequested = true;
                break;
            }
            if (tick) tick(*this);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        return posted_;
    }

    const std::vector<Posted>& PostedSoFar() const { return posted_; }
    std::optional<Clock::time_point> CloseRequestedAt() const { return closeRequestedAt_; }

private:
    static void AnnouncePause() { PostStatusUpdate(LookupText(ui::kPausingStatusKey), L"", -1); }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FlowWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
        case ui::WM_APP_STATUS: {
            const std::unique_ptr<StatusUpdate> update(reinterpret_cast<StatusUpdate*>(lParam));
            EXPECT_TRUE(update->detail.empty());
            self->posted_.push_back({Posted::Status, update->status, update->progress, Clock::now()});
            return 0;
        }
        case ui::WM_APP_SHOW_RETRY:
            self->retryShown_ = true;
            self->posted_.push_back({Posted::ShowRetry, L"", -1, Clock::now()});
            return 0;
        case WM_CLOSE: {
            const bool closes = ui::RequestClose(AnnouncePause) == ui::CloseResult::Close;
            self->posted_.push_back({closes ? Posted::Close : Posted::KeptOpen, L"", -1, Clock::now()});
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    }

    HWND window_ = nullptr;
    ui::WindowStatusSink sink_;
    bool retryShown_ = false;
    std::vector<Posted> posted_;
    std::shared_ptr<std::atomic<bool>> workerDone_ = std::make_shared<std::atomic<bool>>(true);
    std::optional<Clock::time_point> closeRequestedAt_;
};

// The status key whose text this is.
std::string KeyOf(const std::wstring& text) {
    static const wchar_t* const kKeys[] = {
        L"desktop_installer_checking",      L"desktop_installer_downloading",      L"desktop_installer_verifying",
        L"desktop_installer_installing",    L"desktop_installer_installed",        L"desktop_installer_restart_required",
        L"desktop_installer_generic_error", L"desktop_installer_running_error",    L"desktop_installer_paused",
        L"desktop_installer_launch_error",  L"desktop_installer_opening",          L"desktop_installer_saving",
        L"desktop_installer_network_error", L"desktop_installer_disk_error",       L"desktop_installer_verification_error",
        L"desktop_installer_waiting_for_setup", L"desktop_installer_proxy_error",
        L"desktop_installer_untrusted_connection_error",
    };
    for (const wchar_t* key : kKeys) {
        if (LookupText(key) == text) return WideToUtf8(key).substr(std::size("desktop_installer_") - 1);
    }
    return "? " + WideToUtf8(text);
}

// ---- Processes and files of the scenario.
UniqueKernelHandle StartProcess(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << WideToUtf8(commandLine);
        return {};
    }
    CloseHandle(info.hThread);
    return UniqueKernelHandle(info.hProcess);
}

DWORD RunToEnd(const std::wstring& commandLine) {
    const UniqueKernelHandle process = StartProcess(commandLine);
    if (!process) return 0xFFFFFFFF;
    WaitForSingleObject(process.get(), 60000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

std::string Base64Of(const std::string& bytes) {
    DWORD size = 0;
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), flags,
                         nullptr, &size);
    std::string text(size, '\0');
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), flags,
                         text.data(), &size);
    text.resize(size);
    return text;
}

std::string Sha512Hex(const std::wstring& path) {
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? WideToUtf8(cache::HashFileSha512(file.get())) : "";
}

std::string HexToBytes(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// ---- A run in a child process of this program: a second installer, or one that Wine
// shows another Windows version. It writes what its window received, a line each.
std::wstring ThisProgram() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

UniqueKernelHandle StartChildRun(const std::wstring& outputFile) {
    return StartProcess(L"\"" + ThisProgram() + L"\" --flow-child \"" + outputFile + L"\"");
}

std::vector<Posted> ReadChildRun(const UniqueKernelHandle& child, const std::wstring& outputFile) {
    EXPECT_EQ(WaitForSingleObject(child.get(), 120000), WAIT_OBJECT_0) << "the child run did not end";
    std::vector<Posted> posted;
    const std::string text = ReadFileIfPresent(outputFile);
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (line == "retry") posted.push_back({Posted::ShowRetry, L"", -1, Clock::now()});
        if (line == "close") posted.push_back({Posted::Close, L"", -1, Clock::now()});
        if (line.rfind("status ", 0) == 0) {
            const size_t space = line.find(' ', 7);
            posted.push_back({Posted::Status, Utf8ToWide(line.substr(space + 1)), std::stoi(line.substr(7, space - 7)),
                              Clock::now()});
        }
    }
    return posted;
}

int RunChild(const std::wstring& outputFile) {
    SetJournalFolder(&cache::OpenPayloadCache);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    LoadInstallerConfig();
    LoadLocalizedStrings();
    FlowWindow window;
    std::string text;
    for (const Posted& item : window.Run(nullptr)) {
        if (item.kind == Posted::ShowRetry) text += "retry\n";
        if (item.kind == Posted::Close) text += "close\n";
        if (item.kind == Posted::Status) text += "status " + std::to_string(item.progress) + " " + WideToUtf8(item.text) + "\n";
    }
    WriteFileBytes(outputFile, text);
    return 0;
}

// What of the package a run leaves in the cache.
enum class Kept { Nothing, Both, PackageOnly };

// What a scenario expects of one run.
struct Request {
    std::string path;
    std::string range;    // "" absent; "partial": "bytes=<the cached size before the run>-"; "*" any
    std::string ifRange;  // "" absent; "validator": the validator file's content before the run; "*" any
};

struct FlowRun {
    std::vector<std::pair<const wchar_t*, const wchar_t*>> env;  // set for this run; null value unsets
    std::string script = "[]";
    std::function<void()> before;
    std::function<void(FlowWindow&)> tick;
    // Expected:
    std::vector<std::string> events;
    std::vector<std::string> statuses;  // keys without the prefix; "downloading" stands for a run of them
    bool retry = false;                 // ends in the Retry state (else WM_CLOSE)
    std::vector<Request> requests;
    Kept kept = Kept::Nothing;          // what of the package stays in the cache afterwards
    std::string installed;              // version installed afterwards, "" none
    int setupRuns = 0;
    std::string debugger;               // text the debugger output must hold, if any
    std::function<void(FlowWindow&, const std::vector<Posted>&, const std::vector<RecordedRequest>&)> check;
    const wchar_t* childWindowsVersion = nullptr;  // run in a child process that Wine shows this version
};

struct Scenario {
    const char* name;
    std::function<void()> arrange;
    std::vector<FlowRun> runs;
    bool smallDisk = false;  // LocalAppData on the small tmpfs of the fixture small_disk
};

// The size of the small tmpfs that the fixture small_disk mounts; 0 when there is none.
std::uint64_t SmallDiskSize() {
    ULARGE_INTEGER total{};
    const std::wstring root = WindowsPath(Env("TAVRO_SMALL_DISK")) + L"\\";
    if (Env("TAVRO_SMALL_DISK").empty() || !GetDiskFreeSpaceExW(root.c_str(), nullptr, &total, nullptr)) return 0;
    return total.QuadPart < (1ull << 30) ? total.QuadPart : 0;
}

// Plays another program that fills the disk: writes zeros until at most `keepBytes` stay free.
void FillDisk(const std::wstring& path, std::uint64_t keepBytes) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    ASSERT_TRUE(file) << "cannot create " << WideToUtf8(path);
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    const std::string zeros(8 << 20, '\0');
    for (;;) {
        ULARGE_INTEGER available{};
        ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
        if (available.QuadPart <= keepBytes) return;
        const auto chunk = static_cast<DWORD>(std::min<std::uint64_t>(zeros.size(), available.QuadPart - keepBytes)) &
                           ~DWORD{4095};
        DWORD written = 0;
        if (chunk == 0 || !WriteFile(file.get(), zeros.data(), chunk, &written, nullptr) || written != chunk) return;
    }
}

// Closes a message box of this process (the shell's own error box for a program that
// cannot start) and counts it in *boxes.
BOOL CALLBACK DismissOwnBox(HWND window, LPARAM boxes) {
    DWORD process = 0;
    wchar_t className[16] = {};
    GetWindowThreadProcessId(window, &process);
    GetClassNameW(window, className, 16);
    if (process == GetCurrentProcessId() && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window)) {
        SendMessageW(window, WM_COMMAND, IDOK, 0);
        ++*reinterpret_cast<int*>(boxes);
    }
    return TRUE;
}

class InstallFlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        AddVectoredExceptionHandler(1, CatchDebugOutput);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        LoadInstallerConfig();
        LoadLocalizedStrings();
    }

    void SetUp() override {
        if (!channel_.Available()) GTEST_SKIP() << "the channel server is not running (ctest fixture 'channel')";
    }

    // Puts a setup package on the channel under Tavro-Setup-<version>.exe, with a feed
    // naming it; `sha512Hex` replaces the file's real digest, `size` its real size.
    void Publish(const char* version, const std::wstring& source, std::string sha512Hex = "", std::string size = "") {
        const std::string bytes = ReadFileIfPresent(source);
        ASSERT_FALSE(bytes.empty()) << "build the demo first: " << WideToUtf8(source);
        const std::string name = std::string("Tavro-Setup-") + version + ".exe";
        channel_.PutFile(L"desktop\\win\\" + Utf8ToWide(name), bytes);
        if (sha512Hex.empty()) sha512Hex = Sha512Hex(source);
        if (size.empty()) size = std::to_string(bytes.size());
        channel_.PutFile(L"desktop\\win\\latest.yml", std::string("version: ") + version + "\nfiles:\n  - url: " + name +
                                                          "\n    sha512: " + Base64Of(HexToBytes(sha512Hex)) +
                                                          "\n    size: " + size + "\n");
        packageName_ = name;
        packageFile_ = folder_->CacheDirectory() + L"\\" + Utf8ToWide(sha512Hex) + L".exe";
        packageBytes_ = bytes;
    }

    void InstallDirectly(const char* version) {
        ASSERT_EQ(RunToEnd(L"\"" + DemoFile(Utf8ToWide(version) + L"\\Tavro-Setup-" + Utf8ToWide(version) + L".exe") +
                           L"\""),
                  0u);
        ASSERT_EQ(InstalledVersion(), version);
    }

    // Puts the first `size` bytes of the published package in the cache, with a validator.
    void CachePackage(size_t size, const std::string& validator) {
        cache::OpenPayloadCache();
        WriteFileBytes(packageFile_, packageBytes_.substr(0, size));
        if (!validator.empty()) WriteFileBytes(cache::ValidatorFileName(packageFile_), validator);
    }

    // The version of the Tavro.exe that the uninstall record leads to, "" without one.
    static std::string InstalledVersion() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
        const UniqueRegistryKey owner(key);
        wchar_t folder[1024] = {};
        DWORD size = sizeof folder - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"InstallLocation", nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size) !=
            ERROR_SUCCESS) {
            return "?";
        }
        try {
            return WideToUtf8(verify::ReadApplicationVersion(std::wstring(folder) + L"\\Tavro.exe"));
        } catch (const std::exception&) {
            return "?";
        }
    }

    std::vector<std::string> Journal() const { return testing::ReadJournal(folder_->CacheDirectory()); }

    int SetupRuns() const {
        const std::string log = ReadFileIfPresent(setupLog_);
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }

    void Play(const Scenario& scenario) {
        SCOPED_TRACE(scenario.name);
        if (scenario.smallDisk) {
            // The test folder, and LocalAppData inside it, go where GetTempPathW points.
            const std::wstring disk = WindowsPath(Env("TAVRO_SMALL_DISK")) + L"\\";
            wchar_t saved[MAX_PATH + 1] = {};
            const DWORD length = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
            SetEnvironmentVariableW(L"TMP", disk.c_str());
            folder_.emplace();
            SetEnvironmentVariableW(L"TMP", length > 0 ? saved : nullptr);
        } else {
            folder_.emplace();
        }
        setupLog_ = folder_->Root() + L"\\setup-log.jsonl";
        SetEnvironmentVariableW(L"TAVRO_DEMO_SETUP_LOG", setupLog_.c_str());
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LIFETIME_MS", L"1500");
        RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        // Each scenario is a new installer process: a success leaves closeBlocked set.
        installedAppPath.clear();
        closeBlocked = false;
        cancelRequested = false;
        channel_.Script("[]");
        if (scenario.arrange) scenario.arrange();
        {
            FlowWindow window;
            for (size_t i = 0; i < scenario.runs.size() && !::testing::Test::HasFatalFailure(); ++i) {
                SCOPED_TRACE("run " + std::to_string(i + 1));
                PlayRun(window, scenario.runs[i]);
            }
        }
        testing::StopProcesses(L"Tavro.exe", L"", std::chrono::seconds(10));
        RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKey);
        installedAppPath.clear();
        folder_.reset();
    }

    void PlayRun(FlowWindow& window, const FlowRun& run) {
        for (const auto& [name, value] : run.env) SetEnvironmentVariableW(name, value);
        if (run.before) run.before();
        const std::string partial = std::to_string(ReadFileIfPresent(packageFile_).size());
        const std::string validator = ReadFileIfPresent(cache::ValidatorFileName(packageFile_));
        const size_t eventsBefore = Journal().size();
        const int setupsBefore = SetupRuns();
        {
            const std::lock_guard lock(debugMutex);
            debugLines.clear();
        }
        channel_.Script(run.script);

        const std::vector<Posted> posted =
            run.childWindowsVersion != nullptr ? RunInChild(run.childWindowsVersion) : window.Run(run.tick);
        for (const auto& [name, value] : run.env) SetEnvironmentVariableW(name, nullptr);

        const std::vector<std::string> journal = Journal();
        EXPECT_EQ(std::vector<std::string>(journal.begin() + static_cast<long>(std::min(eventsBefore, journal.size())),
                                           journal.end()),
                  run.events);

        // Statuses in order, a run of download progress taken as one; the end state last.
        std::vector<std::string> statuses;
        int lastProgress = -1;
        for (const Posted& item : posted) {
            if (item.kind != Posted::Status) continue;
            const std::string key = KeyOf(item.text);
            if (key == "downloading") {
                EXPECT_GE(item.progress, std::max(lastProgress, 0));
                EXPECT_LE(item.progress, 100);
                lastProgress = item.progress;
                if (!statuses.empty() && statuses.back() == key) continue;
            } else {
                // The final text of an install carries 100; the hand-over's has no percentage.
                const bool final = run.setupRuns > 0 && (key == "installed" || key == "restart_required");
                EXPECT_EQ(item.progress, final ? 100 : -1) << key;
            }
            statuses.push_back(key);
            const std::lock_guard lock(debugMutex);
            for (const std::string& line : debugLines) EXPECT_NE(WideToUtf8(item.text), line) << "English text shown";
        }
        std::vector<std::string> expectedStatuses = run.statuses;
        if (std::find(expectedStatuses.begin(), expectedStatuses.end(), "downloading") == expectedStatuses.end()) {
            // A fast local download may or may not post progress; only slow ones must.
            statuses.erase(std::remove(statuses.begin(), statuses.end(), "downloading"), statuses.end());
        }
        EXPECT_EQ(statuses, expectedStatuses);
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted.back().kind, run.retry ? Posted::ShowRetry : Posted::Close);

        const std::vector<RecordedRequest> requests = channel_.Requests();
        ASSERT_EQ(requests.size(), run.requests.size());
        for (size_t i = 0; i < requests.size(); ++i) {
            SCOPED_TRACE("request " + std::to_string(i + 1));
            const Request& expected = run.requests[i];
            EXPECT_EQ(WideToUtf8(requests[i].path), expected.path);
            const std::string range = expected.range == "partial" ? "bytes=" + partial + "-" : expected.range;
            const std::string ifRange = expected.ifRange == "validator" ? validator : expected.ifRange;
            const std::pair<const wchar_t*, const std::string*> headers[] = {{L"Range", &range}, {L"If-Range", &ifRange}};
            for (const auto& [name, value] : headers) {
                const std::optional<std::wstring> sent = requests[i].Header(name);
                if (*value == "*") {
                    EXPECT_TRUE(sent && !sent->empty()) << WideToUtf8(name);
                } else {
                    EXPECT_EQ(WideToUtf8(sent.value_or(L"")), *value) << WideToUtf8(name);
                }
            }
        }

        const bool packageThere = GetFileAttributesW(packageFile_.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool validatorThere =
            GetFileAttributesW(cache::ValidatorFileName(packageFile_).c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(packageThere, run.kept != Kept::Nothing);
        EXPECT_EQ(validatorThere, run.kept == Kept::Both);
        EXPECT_EQ(InstalledVersion(), run.installed);
        EXPECT_EQ(SetupRuns() - setupsBefore, run.setupRuns);
        if (!run.debugger.empty()) {
            const std::lock_guard lock(debugMutex);
            EXPECT_TRUE(std::any_of(debugLines.begin(), debugLines.end(),
                                    [&](const std::string& line) { return line.find(run.debugger) != std::string::npos; }))
                << "not in the debugger output: " << run.debugger << " (it holds " << debugLines.size()
                << " lines: " << (debugLines.empty() ? "" : debugLines.back()) << ")";
            for (const std::string& event : journal) EXPECT_EQ(event.find(run.debugger), std::string::npos);
        }
        if (run.check) run.check(window, posted, requests);
    }

    // One run in a child process that Wine shows another Windows version to.
    std::vector<Posted> RunInChild(const wchar_t* windowsVersion) {
        const std::wstring key = L"Software\\Wine\\AppDefaults\\" + ThisProgram().substr(ThisProgram().rfind(L'\\') + 1);
        HKEY raw = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        const UniqueRegistryKey appDefaults(raw);
        RegSetValueExW(raw, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(windowsVersion),
                       static_cast<DWORD>((wcslen(windowsVersion) + 1) * sizeof(wchar_t)));
        const std::wstring output = folder_->Root() + L"\\child.txt";
        const UniqueKernelHandle child = StartChildRun(output);
        std::vector<Posted> posted = ReadChildRun(child, output);
        RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        return posted;
    }

    // An installer process killed part-way: a child run under `script`, ended with
    // TerminateProcess as soon as `reached` holds. It leaves whatever a crash would.
    void KillChildRunWhen(const std::string& script, const std::function<bool()>& reached) {
        channel_.Script(script);
        const UniqueKernelHandle child = StartChildRun(folder_->Root() + L"\\killed.txt");
        ASSERT_TRUE(child);
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!reached() && Clock::now() < deadline && WaitForSingleObject(child.get(), 20) == WAIT_TIMEOUT) {
        }
        ASSERT_TRUE(reached()) << "the child run ended or stalled before the stage";
        TerminateProcess(child.get(), 1);
        std::printf("killed the child run with %llu package bytes cached\n",
                    static_cast<unsigned long long>(PackageSize()));
        WaitForSingleObject(child.get(), 10000);
    }

    std::uint64_t PackageSize() const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(packageFile_.c_str(), GetFileExInfoStandard, &data)) return 0;
        return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    // Starts the demo application from the build, not installed, for `lifetimeMs`.
    void StartRunningTavro(int lifetimeMs) {
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LIFETIME_MS", std::to_wstring(lifetimeMs).c_str());
        running_ = StartProcess(L"\"" + DemoFile(L"1.0.0\\Tavro.exe") + L"\"");
        SetEnvironmentVariableW(L"TAVRO_DEMO_APP_LIFETIME_MS", L"1500");
        Sleep(1500);  // until it shows in the process list
    }

    void StopRunningTavro() {
        TerminateProcess(running_.get(), 0);
        WaitForSingleObject(running_.get(), 10000);
        running_.reset();
    }

    Channel channel_;
    UniqueKernelHandle running_;
    UniqueKernelHandle second_;
    UniqueFile packageHolder_;
    int boxes_ = 0;
    bool diskFilled_ = false;
    std::vector<DWORD> swapErrors_;  // what writing and renaming the package met during the setup
    std::optional<LocalAppDataOverride> folder_;
    std::wstring setupLog_;
    std::string packageName_;
    std::wstring packageFile_;
    std::string packageBytes_;
};

std::string Pkg(const char* version) {
    return std::string("/desktop/win/Tavro-Setup-") + version + ".exe";
}

const std::vector<std::string> kInstalled = {"installer_opened", "manifest_resolved", "payload_started",
                                             "payload_verified", "install_started",   "install_succeeded",
                                             "payload_cache_removed"};
const std::vector<std::string> kInstalledFromCache = {"installer_opened", "manifest_resolved", "payload_verified",
                                                      "install_started",  "install_succeeded", "payload_cache_removed"};
const std::vector<std::string> kFailedAfterDownload = {"installer_opened", "manifest_resolved", "payload_started",
                                                       "installer_failed"};
// The same, ended by a server's status, which the journal keeps.
std::vector<std::string> FailedAfterDownloadWith(int httpStatus) {
    std::vector<std::string> events = kFailedAfterDownload;
    events.back() += " " + std::to_string(httpStatus);
    return events;
}
constexpr char kFeedThenSlowPackage[] =
    R"([{"action":"serve"},{"action":"serve","chunk_size":65536,"delay_ms":100}])";

TEST_F(InstallFlowTest, Scenarios) {
    const std::wstring v100 = DemoFile(L"1.0.0\\Tavro-Setup-1.0.0.exe");
    const std::wstring v110 = DemoFile(L"1.1.0\\Tavro-Setup-1.1.0.exe");
    const Request feed{kFeedPath, "", ""};
    std::vector<Scenario> scenarios = {
        {"fresh install",
         [&] { Publish("1.0.0", v100); },
         {{.script = kFeedThenSlowPackage,
           .events = kInstalled,
           .statuses = {"checking", "downloading", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0")}},
           .installed = "1.0.0",
           .setupRuns = 1,
           .check = [](const auto&, const auto&, const auto&) {
               EXPECT_EQ(RunToEnd(L"\"" + WindowsPath(Env("TAVRO_INSTALLER")) + L"\" --verify-installed"), 0u);
           }}}},
        {"installed copy as new as the release is started instead",
         [&] {
             InstallDirectly("1.0.0");
             Publish("1.0.0", v100);
         },
         {{.events = {"installer_opened", "manifest_resolved", "app_launch_confirmed"},
           .statuses = {"checking", "opening", "installed"},
           .requests = {feed},
           .installed = "1.0.0",
           .check = [](const auto&, const auto&, const auto&) { EXPECT_FALSE(installedAppPath.empty()); }}}},
        {"older installed copy is updated",
         [&] {
             InstallDirectly("1.0.0");
             Publish("1.1.0", v110);
         },
         {{.events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.1.0")}},
           .installed = "1.1.0",
           .setupRuns = 1}}},
        {"complete cached package is not downloaded again",
         [&] {
             Publish("1.0.0", v100);
             CachePackage(std::string::npos, "");
         },
         {{.events = kInstalledFromCache,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"partial package is resumed",
         [&] {
             Publish("1.0.0", v100);
             CachePackage(700000, "\"v1\"");
         },
         {{.script = R"([{"action":"serve"},{"action":"serve","etag":"\"v1\""}])",
           .events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0"), "partial", "validator"}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"refused resume range starts over once",
         [&] {
             Publish("1.0.0", v100);
             CachePackage(700000, "\"v1\"");
         },
         {{.script = R"([{"action":"serve"},{"action":"status","status":416},{"action":"serve"}])",
           .events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0"), "partial", "validator"}, {Pkg("1.0.0")}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"server busy four times",
         [&] { Publish("1.0.0", v100); },
         {{.script = R"([{"action":"serve"},{"action":"status","status":503,"times":4}])",
           .events = FailedAfterDownloadWith(503),
           .statuses = {"checking", "network_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}, {Pkg("1.0.0")}, {Pkg("1.0.0")}, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "HTTP 503",
           .check = [](const auto&, const auto&, const std::vector<RecordedRequest>& requests) {
               for (size_t i = 2; i < requests.size(); ++i) {
                   const double gap = requests[i].time - requests[i - 1].time;
                   std::printf("503 retry gap %zu: %.3f s\n", i - 1, gap);
                   EXPECT_GE(gap, 1 << (i - 2));
               }
           }}}},
        // A release whose file is missing is broken, not the user's connection.
        {"missing package is not asked for again",
         [&] { Publish("1.0.0", v100); },
         {{.script = R"([{"action":"serve"},{"action":"status","status":404}])",
           .events = FailedAfterDownloadWith(404),
           .statuses = {"checking", "generic_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "HTTP 404"}}},
        // Answered once with the user's own logon (which Wine never sends), then given up:
        // the proxy's own text, and no attempt after it.
        {"proxy that keeps asking for a sign-in",
         [&] { Publish("1.0.0", v100); },
         {{.script = R"([{"action":"serve"},)"
                     R"({"action":"status","status":407,"headers":{"Proxy-Authenticate":"Negotiate"},"times":4}])",
           .events = FailedAfterDownloadWith(407),
           .statuses = {"checking", "proxy_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "HTTP 407: proxy sign-in required"}}},
        {"digest mismatch",
         [&] { Publish("1.0.0", v100, Sha512Hex(v110)); },
         {{.events = kFailedAfterDownload,
           .statuses = {"checking", "verifying", "verification_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "Downloaded file hash mismatch. Retry to download again."}}},
        {"another publisher's package",
         [&] { Publish("1.0.0", DemoFile(L"fixtures\\other-publisher\\Tavro-Setup-1.0.0.exe")); },
         {{.events = kFailedAfterDownload,
           .statuses = {"checking", "verifying", "verification_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "Application signature or publisher mismatch"}}},
        {"tampered package",
         [&] { Publish("1.0.0", DemoFile(L"fixtures\\tampered\\Tavro-Setup-1.0.0.exe")); },
         {{.events = kFailedAfterDownload,
           .statuses = {"checking", "verifying", "verification_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both}}},
        {"package of another version",
         [&] { Publish("1.0.0", v110); },
         {{.events = kFailedAfterDownload,
           .statuses = {"checking", "verifying", "verification_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "Application version mismatch"}}},
        {"Tavro running, then closed",
         [&] {
             Publish("1.0.0", v100);
             StartRunningTavro(120000);
         },
         {{.events = {"installer_opened", "manifest_resolved", "payload_started", "payload_verified",
                      "installer_failed"},
           .statuses = {"checking", "verifying", "running_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both},
          {.before = [&] { StopRunningTavro(); },
           .events = kInstalledFromCache,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"setup cancelled, then retried from the cache",
         [&] { Publish("1.0.0", v100); },
         {{.env = {{L"TAVRO_DEMO_SETUP_EXIT", L"1602"}},
           .events = {"installer_opened", "manifest_resolved", "payload_started", "payload_verified", "install_started",
                      "installer_failed"},
           .statuses = {"checking", "verifying", "installing", "generic_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .setupRuns = 1,
           .debugger = "Setup was cancelled or failed. Retry the cached installer."},
          {.events = kInstalledFromCache,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"package swapped while it is verified and run",
         [&] {
             Publish("1.0.0", v100);
             swapErrors_.clear();
         },
         {{.env = {{L"TAVRO_DEMO_SETUP_DELAY_MS", L"1500"}},
           .tick = [this](FlowWindow& window) {
               const auto& posted = window.PostedSoFar();
               const bool installing = std::any_of(posted.begin(), posted.end(), [](const Posted& item) {
                   return item.kind == Posted::Status && KeyOf(item.text) == "installing";
               });
               if (!installing || !swapErrors_.empty()) return;
               // The setup runs: closing the window only beeps.
               EXPECT_EQ(window.RequestClose(), ui::CloseResult::Refuse);
               // What another process would do to put its own file in the package's place.
               const UniqueFile writer(CreateFileW(packageFile_.c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
               swapErrors_.push_back(writer ? 0 : GetLastError());
               swapErrors_.push_back(MoveFileExW(packageFile_.c_str(), (packageFile_ + L".old").c_str(), 0) ? 0
                                                                                                         : GetLastError());
           },
           .events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0")}},
           .installed = "1.0.0",
           .setupRuns = 1,
           .check = [this](const auto&, const auto&, const auto&) {
               EXPECT_EQ(swapErrors_, (std::vector<DWORD>{ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION}));
           }}}},
        {"setup asks for a restart",
         [&] { Publish("1.0.0", v100); },
         {{.env = {{L"TAVRO_DEMO_SETUP_EXIT", L"3010"}},
           .events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "restart_required"},
           .requests = {feed, {Pkg("1.0.0")}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        // A verified package that Windows will not start: what a declined elevation prompt
        // gives too. The shell may show its own error box first; it is dismissed.
        {"setup that cannot be started",
         [&] { Publish("1.0.0", DemoFile(L"fixtures\\not-startable\\Tavro-Setup-1.0.0.exe")); },
         {{.tick = [this](FlowWindow&) { EnumWindows(DismissOwnBox, reinterpret_cast<LPARAM>(&boxes_)); },
           .events = {"installer_opened", "manifest_resolved", "payload_started", "payload_verified", "install_started",
                      "installer_failed"},
           .statuses = {"checking", "verifying", "installing", "generic_error"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "Could not start setup, or permission was declined",
           .check = [this](FlowWindow& window, const auto&, const auto&) {
               std::printf("error boxes of the shell dismissed: %d\n", std::exchange(boxes_, 0));
               // The failure lifted the setup's close block.
               EXPECT_EQ(window.RequestClose(), ui::CloseResult::Close);
           }}}},
        {"package that cannot be removed after the install",
         [&] {
             Publish("1.0.0", v100);
             packageHolder_.reset();
         },
         {{.tick = [this](FlowWindow& window) {
               // Another program reads the package from the start of the setup on.
               if (!packageHolder_ && !window.PostedSoFar().empty() && KeyOf(window.PostedSoFar().back().text) == "installing") {
                   packageHolder_.reset(CreateFileW(packageFile_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
               }
           },
           .events = {"installer_opened", "manifest_resolved", "payload_started", "payload_verified", "install_started",
                      "install_succeeded", "payload_cache_cleanup_deferred"},
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::PackageOnly,
           .installed = "1.0.0",
           .setupRuns = 1,
           .check = [this](const auto&, const auto&, const auto&) {
               EXPECT_TRUE(packageHolder_) << "the package could not be held open during the setup";
               packageHolder_.reset();
           }}}},
        {"pause during the download, then resume",
         [&] { Publish("1.0.0", v100); },
         {{.script = kFeedThenSlowPackage,
           .tick = [](FlowWindow& window) {
               for (const Posted& item : window.PostedSoFar()) {
                   if (!window.CloseRequestedAt() && item.kind == Posted::Status && KeyOf(item.text) == "downloading") {
                       EXPECT_EQ(window.RequestClose(), ui::CloseResult::Pause);
                   }
               }
           },
           .events = {"installer_opened", "manifest_resolved", "payload_started", "cancelled"},
           .statuses = {"checking", "downloading", "saving", "paused"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "Download paused. Click Retry to resume."},
          {.events = {"installer_opened", "manifest_resolved", "payload_started", "payload_verified", "install_started",
                      "install_succeeded", "payload_cache_removed"},
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0"), "partial", "validator"}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"pause during the wait between attempts",
         [&] { Publish("1.0.0", v100); },
         {{.script = R"([{"action":"serve"},{"action":"status","status":503}])",
           .tick = [this](FlowWindow& window) {
               const auto requests = channel_.Requests();
               if (requests.size() == 2 && !window.CloseRequestedAt()) {
                   Sleep(300);
                   EXPECT_EQ(window.RequestClose(), ui::CloseResult::Pause);
               }
           },
           .events = {"installer_opened", "manifest_resolved", "payload_started", "cancelled"},
           .statuses = {"checking", "saving", "paused"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .check = [](FlowWindow& window, const std::vector<Posted>& posted, const auto&) {
               ASSERT_TRUE(window.CloseRequestedAt());
               const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(
                   posted.back().at - *window.CloseRequestedAt());
               std::printf("pause latency during the wait: %lld ms\n", static_cast<long long>(latency.count()));
               // 100 ms steps, plus the failure report and this thread's own 20 ms pump.
               EXPECT_LE(latency.count(), 150);
               // Paused, nothing runs: a second close closes.
               EXPECT_EQ(window.RequestClose(), ui::CloseResult::Close);
           }}}},
        {"pause while the server has gone silent in the middle of the body, then resume",
         [&] { Publish("1.0.0", v100); },
         {{.script = R"([{"action":"serve"},{"action":"serve","chunk_size":65536,"delay_ms":25000}])",
           .tick = [this](FlowWindow& window) {
               if (!window.CloseRequestedAt() && channel_.Requests().size() == 2) {
                   Sleep(1000);  // the first piece is written; the next read waits on the silent server
                   EXPECT_EQ(window.RequestClose(), ui::CloseResult::Pause);
               }
           },
           .events = {"installer_opened", "manifest_resolved", "payload_started", "cancelled"},
           .statuses = {"checking", "saving", "paused"},
           .retry = true,
           .requests = {feed, {Pkg("1.0.0")}},
           .kept = Kept::Both,
           .debugger = "Download paused. Click Retry to resume.",
           .check = [](FlowWindow& window, const std::vector<Posted>& posted, const auto&) {
               ASSERT_TRUE(window.CloseRequestedAt());
               const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(
                   posted.back().at - *window.CloseRequestedAt());
               std::printf("pause latency with a silent server: %lld ms\n", static_cast<long long>(latency.count()));
               EXPECT_LE(latency.count(), 500);
           }},
          {.events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0"), "partial", "validator"}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"two installers at once",
         [&] { Publish("1.0.0", v100); },
         {{.script = R"([{"action":"serve"},{"action":"serve","chunk_size":65536,"delay_ms":250}])",
           .tick = [this](FlowWindow&) {
               if (!second_ && channel_.Requests().size() == 2) second_ = StartChildRun(folder_->Root() + L"\\second.txt");
           },
           .events = {"installer_opened", "manifest_resolved", "payload_started", "installer_failed", "payload_verified",
                      "install_started", "install_succeeded", "payload_cache_removed"},
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0")}},
           .installed = "1.0.0",
           .setupRuns = 1,
           .check = [this](const auto&, const auto&, const auto&) {
               ASSERT_TRUE(second_);
               std::vector<std::string> seen;
               for (const Posted& item : ReadChildRun(second_, folder_->Root() + L"\\second.txt")) {
                   seen.push_back(item.kind == Posted::Status ? KeyOf(item.text) : item.kind == Posted::ShowRetry ? "retry" : "close");
               }
               EXPECT_EQ(seen, (std::vector<std::string>{"generic_error", "retry"}));
               second_.reset();
           }}}},
        // A killed installer leaves its lock file, journal and partial package behind; the
        // next start takes the lock and carries on from what was kept.
        {"killed while reading the feed, then started again",
         [&] { Publish("1.0.0", v100); },
         {{.before = [this] {
               KillChildRunWhen(R"([{"action":"serve","chunk_size":8,"delay_ms":200}])", [this] {
                   const std::vector<std::string> journal = Journal();
                   return std::find(journal.begin(), journal.end(), "installer_opened") != journal.end();
               });
           },
           .events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0")}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"killed during the download, then started again",
         [&] { Publish("1.0.0", v100); },
         {{.before = [this] { KillChildRunWhen(kFeedThenSlowPackage, [this] { return PackageSize() >= 65536; }); },
           .events = kInstalled,
           .statuses = {"checking", "verifying", "installing", "installed"},
           .requests = {feed, {Pkg("1.0.0"), "partial", "validator"}},
           .installed = "1.0.0",
           .setupRuns = 1}}},
        {"Windows older than the release needs",
         [&] { Publish("1.0.0", v100); },
         {{.events = {"installer_opened", "manifest_resolved", "installer_failed"},
           .statuses = {"checking", "generic_error"},
           .retry = true,
           .requests = {feed},
           .childWindowsVersion = L"win81"}}},
        // The installed program is a signed file of the right version that Windows will not
        // start; the shell's error boxes are dismissed.
        {"installed copy that cannot be started, then the launch retry",
         [&] {
             InstallDirectly("1.0.0");
             Publish("1.0.0", v100);
             const std::wstring app = verify::FindInstalledApplication();
             ASSERT_TRUE(CopyFileW(app.c_str(), (app + L".kept").c_str(), FALSE));
             ASSERT_TRUE(CopyFileW(DemoFile(L"fixtures\\not-startable\\Tavro-Setup-1.0.0.exe").c_str(), app.c_str(), FALSE));
         },
         {{.tick = [this](FlowWindow&) { EnumWindows(DismissOwnBox, reinterpret_cast<LPARAM>(&boxes_)); },
           .events = {"installer_opened", "manifest_resolved", "installer_failed"},
           .statuses = {"checking", "generic_error"},
           .retry = true,
           .requests = {feed},
           .installed = "1.0.0",
           .debugger = "Installed, but could not start Tavro"},
          {.tick = [this](FlowWindow&) { EnumWindows(DismissOwnBox, reinterpret_cast<LPARAM>(&boxes_)); },
           .events = {},
           .statuses = {"launch_error"},
           .retry = true,
           .installed = "1.0.0",
           .debugger = "Installed, but could not start Tavro"},
          {.before = [&] {
               const std::wstring app = verify::FindInstalledApplication();
               ASSERT_TRUE(MoveFileExW((app + L".kept").c_str(), app.c_str(), MOVEFILE_REPLACE_EXISTING));
           },
           .events = {"app_launch_confirmed"},
           .statuses = {"opening", "installed"},
           .installed = "1.0.0"}}},
        // Only the installer's process ended, while its setup ran on: the next start waits
        // for that setup (a close would leave it running), and it finishes the install
        // without the feed and without a second setup.
        {"killed while its setup runs, then started again",
         [&] { Publish("1.0.0", v100); },
         {{.env = {{L"TAVRO_DEMO_SETUP_DELAY_MS", L"5000"}},
           .before = [this] { KillChildRunWhen("[]", [this] { return verify::IsProcessRunningFromPath(packageFile_); }); },
           .tick = [](FlowWindow& window) {
               const std::vector<Posted>& posted = window.PostedSoFar();
               if (posted.empty()) return;
               const std::string key = KeyOf(posted.back().text);
               if (key == "waiting_for_setup") {
                   EXPECT_TRUE(closeLeaves);
               } else if (key == "installing") {
                   EXPECT_TRUE(closeBlocked);
               }
           },
           .events = {"installer_opened", "install_succeeded", "payload_cache_removed"},
           .statuses = {"checking", "waiting_for_setup", "installing", "installed"},
           .installed = "1.0.0",
           .setupRuns = 1}}},
    };
    // TAVRO_FLOW_ONLY=<part of a name> plays only the matching scenarios.
    const std::string only = Env("TAVRO_FLOW_ONLY");
    for (const Scenario& scenario : scenarios) {
        if (std::string(scenario.name).find(only) != std::string::npos) Play(scenario);
    }
}

// The two disk scenarios run on the small tmpfs of the fixture small_disk (ctest
// install_flow_small_disk), so that neither depends on the free space of the machine.
class InstallFlowSmallDiskTest : public InstallFlowTest {
protected:
    void SetUp() override {
        InstallFlowTest::SetUp();
        if (!IsSkipped() && SmallDiskSize() == 0) {
            GTEST_SKIP() << "no small tmpfs at " << Env("TAVRO_SMALL_DISK")
                         << ": the ctest fixture small_disk mounts one, which needs root (CAP_SYS_ADMIN)";
        }
    }
};

TEST_F(InstallFlowSmallDiskTest, NotEnoughDiskSpace) {
    // A package whose space estimate (nine times its size, plus the reserve) exceeds the disk.
    const std::string size = std::to_string(SmallDiskSize() / 9 + 1);
    Play({"not enough disk space",
          [&] { Publish("1.0.0", DemoFile(L"1.0.0\\Tavro-Setup-1.0.0.exe"), "", size); },
          {{.events = {"installer_opened", "manifest_resolved", "installer_failed"},
            .statuses = {"checking", "disk_error"},
            .retry = true,
            .requests = {{kFeedPath, "", ""}},
            .debugger = "Not enough disk space"}},
          true});
}

TEST_F(InstallFlowSmallDiskTest, TheDiskFillsDuringTheDownloadThenSpaceIsFreed) {
    const Request resumed{Pkg("1.0.0"), "*", "*"};
    Play({"the disk fills during the download, then space is freed",
          [&] {
              Publish("1.0.0", DemoFile(L"1.0.0\\Tavro-Setup-1.0.0.exe"));
              diskFilled_ = false;
          },
          {{.script = R"([{"action":"serve"},{"action":"serve","chunk_size":65536,"delay_ms":250}])",
            .tick = [this](FlowWindow&) {
                // Once the space check has passed and the package is on its way.
                if (!diskFilled_ && channel_.Requests().size() == 2) {
                    diskFilled_ = true;
                    FillDisk(folder_->Root() + L"\\filler", 256 * 1024);
                }
            },
            .events = kFailedAfterDownload,
            .statuses = {"checking", "downloading", "disk_error"},
            .retry = true,
            .requests = {{kFeedPath, "", ""}, {Pkg("1.0.0")}, resumed, resumed, resumed},
            .kept = Kept::Both,
            .debugger = "Cannot write download",
            .check = [this](const auto&, const auto&, const auto&) {
                const std::string kept = ReadFileIfPresent(packageFile_);
                std::printf("full disk: %zu of %zu bytes kept\n", kept.size(), packageBytes_.size());
                EXPECT_GT(kept.size(), 0u);
                EXPECT_LT(kept.size(), packageBytes_.size());
                EXPECT_TRUE(kept == packageBytes_.substr(0, kept.size())) << "the kept bytes are not the package's";
            }},
           {.before = [this] { EXPECT_TRUE(DeleteFileW((folder_->Root() + L"\\filler").c_str())); },
            .events = kInstalled,
            .statuses = {"checking", "verifying", "installing", "installed"},
            .requests = {{kFeedPath, "", ""}, {Pkg("1.0.0"), "partial", "validator"}},
            .installed = "1.0.0",
            .setupRuns = 1}},
          true});
}

// Posting to a null window would become a thread message that no window frees, and could
// later reach a message loop as a stray WM_APP_STATUS.
TEST(StatusPosts, WithoutAWindowNothingIsPosted) {
    EXPECT_FALSE(PostShowRetry());
    ui::WindowStatusSink noWindow;
    SetStatusSink(&noWindow);
    PostStatusUpdate(L"text", L"", 5);
    EXPECT_FALSE(PostShowRetry());
    EXPECT_FALSE(PostClose());
    SetStatusSink(nullptr);
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) << message.message;
}

}  // namespace
}  // namespace tavro::core

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--flow-child") {
        return tavro::core::RunChild(tavro::Utf8ToWide(argv[2]));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
