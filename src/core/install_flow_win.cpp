#include "core/install_flow.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "cache/file_digest.h"
#include "cache/payload_cache.h"
#include "core/failure_report.h"
#include "core/install_plan.h"
#include "feed/release_descriptor.h"
#include "feed/url_trust.h"
#include "feed/version.h"
#include "launch/launch_handshake.h"
#include "net/fetch_url.h"
#include "net/package_download.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"
#include "shared/installer_config.h"
#include "shared/localized_strings.h"
#include "shared/process_state.h"
#include "shared/status_sink.h"
#include "verify/app_version.h"
#include "verify/installed_app.h"
#include "verify/publisher_signature.h"
#include "verify/running_processes.h"

namespace tavro::core {

namespace {

constexpr WORD kRequiredArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
constexpr DWORD kVersionRecordSize = 276;
constexpr DWORD kSetupExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
constexpr DWORD kWaitStepMs = 100;
constexpr DWORD kHeldPollMs = 500;

// COM for the worker thread, released when the run ends.
class ComApartment {
public:
    ComApartment() { ThrowIfFailed(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

void PostStatus(const wchar_t* key, std::int32_t progress) {
    PostStatusUpdate(LookupText(key), L"", progress);
}

// Ends the worker after success or a hand-over: the window closes once no worker runs.
void FinishAndClose() {
    flowRunning = false;
    PostClose();
}

void ReportInstallFailure(const std::exception_ptr& failure) {
    std::string message;
    const FailureKind kind = ClassifyFailure(failure, message);
    const FailureReport report = DecideInstallFailure(kind, message, cancelRequested.load());
    WriteEvent(report.event, report.httpStatus, report.tlsFailure);
    if (report.hasDebuggerText) OutputDebugStringW(Utf8ToWide(report.debuggerText).c_str());
    PostStatusUpdate(LookupText(report.statusKey), L"", -1);
    PostShowRetry(static_cast<unsigned>(report.offline));
    // The window is told first: a Retry it handles meanwhile still finds a run in progress.
    closeLeaves = false;
    closeBlocked = false;
    flowRunning = false;
}

UniqueFile TakeRunLock(const std::wstring& cacheDirectory) {
    UniqueFile lock = cache::TryTakeRunLock(cacheDirectory);
    if (!lock) Fail("Another installer is running");
    return lock;
}

void RequireX64() {
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    if (system.wProcessorArchitecture != kRequiredArchitecture) {
        Fail("This installer currently supports Windows x64 only");
    }
}

void RequireWindowsVersion(const std::wstring& minimum) {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    // The version helpers lie to programs without a manifest entry; this call does not.
    const auto rtlGetVersion = ntdll != nullptr ? reinterpret_cast<RtlGetVersionFunction>(
                                                      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                                                : nullptr;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = kVersionRecordSize;
    if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) Fail("Cannot determine Windows version");
    const std::wstring text = WindowsVersionText(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
    if (feed::CompareVersions(text, minimum) < 0) Fail("Windows version not supported");
}

struct InstalledCopy {
    std::wstring path;  // empty when there is none as new as asked
    std::wstring version;
};

// The installed copy when it is at least as new as `version`.
InstalledCopy CurrentInstalledCopy(const std::wstring& version) {
    InstalledCopy copy;
    copy.path = verify::FindInstalledApplication();
    if (copy.path.empty()) return {};
    copy.version = verify::ReadApplicationVersion(copy.path);
    if (feed::CompareVersions(copy.version, version) < 0) return {};
    return copy;
}

void RequireDiskSpace(const std::wstring& cacheDirectory, std::uint64_t packageSize, std::uint64_t installedSize) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(cacheDirectory.c_str(), &available, nullptr, nullptr)) {
        Fail("Cannot read available disk space");
    }
    if (available.QuadPart < RequiredDiskBytes(packageSize, installedSize)) Fail("Not enough disk space");
}

// Waits for a process to end; its exit code, or nothing when that cannot be read.
std::optional<std::uint32_t> WaitForExitCode(HANDLE process) {
    WaitForSingleObject(process, INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode)) return std::nullopt;
    return exitCode;
}

void TruncateForRestart(HANDLE file) {
    const LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) Fail("Cannot reset stale range");
}

// Brings the package to its complete content: up to four attempts, transient failures
// retried after 1 s, 2 s and 4 s. Each failed attempt keeps the partial file and the
// validator that matches it, so a pause or a failed run resumes where this one stopped.
void DownloadWithRetries(cache::CachedPackage& package, const std::wstring& url, std::uint64_t expectedSize) {
    const std::wstring validatorPath = cache::ValidatorFileName(package.path);
    std::wstring validator = cache::ReadValidator(validatorPath);
    for (int attempt = 0;; ++attempt) {
        try {
            net::DownloadCachedPackage(package, url, expectedSize, validator);
            return;
        } catch (const PlatformError&) {
            throw;  // not a download failure: the run ends at once
        } catch (const std::runtime_error& error) {
            FlushFileBuffers(package.file.get());
            cache::WriteValidator(validatorPath, validator);
            ThrowIfCancelled();
            switch (DecideRetry(error.what(), attempt)) {
            case RetryDecision::RestartFromZero:
                TruncateForRestart(package.file.get());
                validator.clear();
                continue;
            case RetryDecision::GiveUp:
                throw;
            case RetryDecision::WaitAndRetry:
                break;
            }
            for (int step = 0; step < RetryWaitSteps(attempt); ++step) {
                ThrowIfCancelled();
                Sleep(kWaitStepMs);
            }
            cache::WriteValidator(validatorPath, validator);
        }
    }
}

// Starts the setup and waits for it; whether it asks for a restart (a failed setup throws).
bool RunSetup(const std::wstring& packagePath) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = kSetupExecuteMask;
    info.hwnd = StatusOwner();
    info.lpFile = packagePath.c_str();
    info.nShow = SW_SHOWNORMAL;
    // A declined elevation prompt fails here too.
    if (!ShellExecuteExW(&info)) Fail("Could not start setup, or permission was declined");
    if (info.hProcess == nullptr) Fail("Cannot observe setup process");
    const UniqueKernelHandle process(info.hProcess);
    return JudgeSetupExit(WaitForExitCode(process.get()), true);
}

// Confirms the install of `version`, cleans the cache and closes the window: the end of a
// setup this run started and of one it found running. The package lock is let go first.
void FinishInstall(const std::wstring& cacheDirectory, const std::wstring& version, bool restartRequired,
                   UniqueFile packageLock) {
    const InstalledCopy confirmed = CurrentInstalledCopy(version);
    if (confirmed.path.empty()) Fail("Setup ended without confirming the expected installed version");

    WriteEvent("install_succeeded");
    packageLock.reset();
    cache::CleanUpInstalledPackages(cacheDirectory, confirmed.version);
    installedAppPath = confirmed.path;

    PostStatus(restartRequired ? L"desktop_installer_restart_required" : L"desktop_installer_installed", 100);
    FinishAndClose();
}

// Waits until nothing keeps writers out of the package any more: the end of a setup that
// runs from it but that no handle of ours can reach. Its exit code stays unknown.
void WaitWhileHeld(const std::wstring& packagePath) {
    while (IsFileHeldAgainstWriters(packagePath)) Sleep(kHeldPollMs);
}

// A setup that an earlier installer started from the cache and that outlived it (that
// installer was ended while the setup ran) is waited for and its install finished here:
// never started a second time, never cut short. False when none runs. Meanwhile a close
// leaves: the setup goes on, and the next start confirms it.
bool FinishOrphanedSetup(const std::wstring& cacheDirectory) {
    const cache::RunningSetup orphan = cache::FindRunningCachedSetup(cacheDirectory, true);
    if (!orphan) return false;
    closeBlocked = true;
    closeLeaves = true;
    PostStatus(L"desktop_installer_waiting_for_setup", -1);
    std::optional<std::uint32_t> exitCode;
    if (orphan.process) {
        exitCode = WaitForExitCode(orphan.process.get());
    } else {
        WaitWhileHeld(orphan.packagePath);
    }
    // Taken back before anything is confirmed: a close from now on is refused; one that
    // came first has taken it, and the window is going away with this run.
    if (!closeLeaves.exchange(false)) return true;
    PostStatus(L"desktop_installer_installing", -1);
    const bool restartRequired = JudgeSetupExit(exitCode, false);
    // The file that ran was verified before it was started, and a running program's file
    // cannot be changed: its own version is the one to confirm.
    FinishInstall(cacheDirectory, verify::ReadApplicationVersion(orphan.packagePath), restartRequired, {});
    return true;
}

void InstallRun() {
    RequireX64();
    const std::wstring cacheDirectory = cache::OpenPayloadCache();
    const UniqueFile runLock = TakeRunLock(cacheDirectory);
    cache::PrunePayloadCache(cacheDirectory);
    WriteEvent("installer_opened");
    PostStatus(L"desktop_installer_checking", -1);
    if (FinishOrphanedSetup(cacheDirectory)) return;

    const std::string feedBytes = net::FetchUrl(json::GetJsonString(InstallerConfig(), L"channelURL"), nullptr,
                                                net::kFeedSizeLimit, L"", nullptr);
    const json::JsonObject descriptor = feed::BuildReleaseDescriptor(feedBytes);
    WriteEvent("manifest_resolved");

    const json::JsonObject artifact = SelectWindowsArtifact(descriptor);
    RequireWindowsVersion(artifact.GetNamedString(L"minOSVersion"));

    const std::wstring appVersion = artifact.GetNamedString(L"appVersion");
    const InstalledCopy current = CurrentInstalledCopy(appVersion);
    if (!current.path.empty()) {
        installedAppPath = current.path;
        cache::CleanUpInstalledPackages(cacheDirectory, current.version);
        launch::LaunchWithHandshake(current.path);
        FinishAndClose();
        return;
    }

    const std::uint64_t packageSize = SizeFromJsonNumber(artifact.GetNamedNumber(L"sizeBytes"));
    const std::uint64_t installedSize = SizeFromJsonNumber(artifact.GetNamedNumber(L"installedSizeBytes"));
    RequireDiskSpace(cacheDirectory, packageSize, installedSize);

    const std::wstring sha512 = artifact.GetNamedString(L"sha512");
    const std::wstring packagePath = JoinPath(cacheDirectory, cache::PackageFileName(sha512));
    // Held until the run ends: nobody can change the package between its checks and its run.
    // A complete package is only read, so it opens even while a program runs from it.
    UniqueFile verified = cache::OpenCompletePackage(cacheDirectory, sha512, packageSize);
    if (!verified) {
        cache::CachedPackage package = cache::OpenCachedPackage(cacheDirectory, sha512);
        cache::ResetPackageForDownload(package, packageSize);
        DownloadWithRetries(package, artifact.GetNamedString(L"url"), packageSize);
        verified = cache::LockVerifiedPackage(package);
    }
    ThrowIfCancelled();

    PostStatus(L"desktop_installer_verifying", -1);
    if (cache::HashFileSha512(verified.get()) != sha512) {
        Fail("Downloaded file hash mismatch. Retry to download again.");
    }
    verify::VerifyPublisherSignature(packagePath);
    if (feed::CompareVersions(verify::ReadApplicationVersion(packagePath), appVersion) != 0) {
        Fail("Application version mismatch");
    }
    WriteEvent("payload_verified");

    if (verify::IsProcessNameRunning(L"Tavro.exe")) Fail("Close Tavro after saving your work, then retry.");
    ThrowIfCancelled();

    closeBlocked = true;
    WriteEvent("install_started");
    PostStatus(L"desktop_installer_installing", -1);
    const bool restartRequired = RunSetup(packagePath);
    FinishInstall(cacheDirectory, appVersion, restartRequired, std::move(verified));
}

}  // namespace

void RunInstallFlow() {
    try {
        const ComApartment com;
        InstallRun();
    } catch (...) {
        ReportInstallFailure(std::current_exception());
    }
}

void OpenOfflinePage() noexcept {
    try {
        const std::wstring url = json::GetJsonString(InstallerConfig(), L"offlineURL");
        feed::CheckDownloadUrl(url);
        SHELLEXECUTEINFOW open{};
        open.cbSize = sizeof open;
        // No box of the shell's: a page that does not open leaves the failure page as it was.
        open.fMask = SEE_MASK_FLAG_NO_UI;
        open.hwnd = StatusOwner();
        open.lpVerb = L"open";
        open.lpFile = url.c_str();
        open.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExW(&open)) Fail("Cannot open the offline page");
        WriteEvent("offline_page_opened");
    } catch (const std::exception& error) {
        OutputDebugStringA(error.what());
    } catch (...) {
        OutputDebugStringA("Cannot open the offline page");
    }
}

void RunLaunchRetry() {
    bool launched = false;
    try {
        const ComApartment com;
        const std::wstring path = installedAppPath;
        launch::LaunchWithHandshake(path);
        launched = true;
    } catch (...) {
        std::string message;
        const FailureKind kind = ClassifyFailure(std::current_exception(), message);
        const FailureReport report = DecideLaunchRetryFailure(kind, message);
        if (report.hasDebuggerText) OutputDebugStringW(Utf8ToWide(report.debuggerText).c_str());
        PostStatusUpdate(LookupText(report.statusKey), L"", -1);
    }
    closeBlocked = false;
    flowRunning = false;
    if (launched) {
        PostClose();
    } else {
        PostShowRetry();
    }
}

}  // namespace tavro::core
