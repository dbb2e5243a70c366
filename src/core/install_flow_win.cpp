#include "core/install_flow.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "app/installer_config.h"
#include "cache/file_digest.h"
#include "cache/payload_cache.h"
#include "core/event_log.h"
#include "core/failure_report.h"
#include "core/install_plan.h"
#include "core/process_state.h"
#include "feed/release_descriptor.h"
#include "feed/version.h"
#include "launch/launch_handshake.h"
#include "net/fetch_url.h"
#include "net/package_download.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "ui/localized_strings.h"
#include "ui/status_update.h"
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

// COM for the worker thread, released when the run ends.
class ComApartment {
public:
    ComApartment() { ThrowIfFailed(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

void PostStatus(const wchar_t* key, std::int32_t progress) {
    ui::PostStatusUpdate(ui::LookupText(key), L"", progress);
}

// Ends the worker after success or a hand-over: the window closes once no worker runs.
void FinishAndClose() {
    flowRunning = false;
    ui::PostToMainWindow(WM_CLOSE);
}

void ReportInstallFailure(const std::exception_ptr& failure) {
    std::string message;
    const FailureKind kind = ClassifyFailure(failure, message);
    const FailureReport report = DecideInstallFailure(kind, message, cancelRequested.load());
    WriteEvent(report.event);
    if (report.hasDebuggerText) OutputDebugStringW(Utf8ToWide(report.debuggerText).c_str());
    ui::PostStatusUpdate(ui::LookupText(report.statusKey), L"", -1);
    ui::PostToMainWindow(ui::WM_APP_SHOW_RETRY);
    // The window is told first: a Retry it handles meanwhile still finds a run in progress.
    closeBlocked = false;
    flowRunning = false;
}

UniqueFile TakeRunLock(const std::wstring& cacheDirectory) {
    const std::wstring path = cacheDirectory + L"\\session.lock";
    UniqueFile lock(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
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

// The installed copy's path when it is at least as new as `version`, else empty.
std::wstring CurrentInstalledCopy(const std::wstring& version) {
    const std::wstring path = verify::FindInstalledApplication();
    if (path.empty() || feed::CompareVersions(verify::ReadApplicationVersion(path), version) < 0) return {};
    return path;
}

void RequireDiskSpace(const std::wstring& cacheDirectory, std::uint64_t packageSize, std::uint64_t installedSize) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(cacheDirectory.c_str(), &available, nullptr, nullptr)) {
        Fail("Cannot read available disk space");
    }
    if (available.QuadPart < RequiredDiskBytes(packageSize, installedSize)) Fail("Not enough disk space");
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

// Starts the setup and waits for it; returns its exit code when it reports success.
std::uint32_t RunSetup(const std::wstring& packagePath) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = kSetupExecuteMask;
    info.hwnd = ui::MainWindow();
    info.lpFile = packagePath.c_str();
    info.nShow = SW_SHOWNORMAL;
    // A declined elevation prompt fails here too.
    if (!ShellExecuteExW(&info)) Fail("Could not start setup, or permission was declined");
    if (info.hProcess == nullptr) Fail("Cannot observe setup process");
    const UniqueKernelHandle process(info.hProcess);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) Fail("Cannot read setup result");
    if (!IsSetupSuccess(exitCode)) Fail("Setup was cancelled or failed. Retry the cached installer.");
    return exitCode;
}

void InstallRun() {
    RequireX64();
    const std::wstring cacheDirectory = cache::OpenPayloadCache();
    const UniqueFile runLock = TakeRunLock(cacheDirectory);
    cache::PrunePayloadCache(cacheDirectory);
    WriteEvent("installer_opened");
    PostStatus(L"desktop_installer_checking", -1);

    const std::string feedBytes = net::FetchUrl(json::GetJsonString(InstallerConfig(), L"channelURL"), nullptr,
                                                net::kFeedSizeLimit, L"", nullptr);
    const json::JsonObject descriptor = feed::BuildReleaseDescriptor(feedBytes);
    WriteEvent("manifest_resolved");

    const json::JsonObject artifact = SelectWindowsArtifact(descriptor);
    RequireWindowsVersion(artifact.GetNamedString(L"minOSVersion"));

    const std::wstring appVersion = artifact.GetNamedString(L"appVersion");
    const std::wstring current = CurrentInstalledCopy(appVersion);
    if (!current.empty()) {
        installedAppPath = current;
        launch::LaunchWithHandshake(current);
        FinishAndClose();
        return;
    }

    const std::uint64_t packageSize = SizeFromJsonNumber(artifact.GetNamedNumber(L"sizeBytes"));
    const std::uint64_t installedSize = SizeFromJsonNumber(artifact.GetNamedNumber(L"installedSizeBytes"));
    RequireDiskSpace(cacheDirectory, packageSize, installedSize);

    const std::wstring sha512 = artifact.GetNamedString(L"sha512");
    cache::CachedPackage package = cache::OpenCachedPackage(cacheDirectory, sha512);
    if (!cache::IsReusablePackage(package, packageSize, sha512)) {
        cache::ResetPackageForDownload(package, packageSize);
        DownloadWithRetries(package, artifact.GetNamedString(L"url"), packageSize);
    }
    // Held until the run ends: nobody can change the package between its checks and its run.
    UniqueFile verified = cache::LockVerifiedPackage(package);
    ThrowIfCancelled();

    PostStatus(L"desktop_installer_verifying", -1);
    if (cache::HashFileSha512(verified.get()) != sha512) {
        Fail("Downloaded file hash mismatch. Retry to download again.");
    }
    verify::VerifyPublisherSignature(package.path);
    if (feed::CompareVersions(verify::ReadApplicationVersion(package.path), appVersion) != 0) {
        Fail("Application version mismatch");
    }
    WriteEvent("payload_verified");

    if (verify::IsProcessNameRunning(L"Tavro.exe")) Fail("Close Tavro after saving your work, then retry.");
    ThrowIfCancelled();

    closeBlocked = true;
    WriteEvent("install_started");
    PostStatus(L"desktop_installer_installing", -1);
    const std::uint32_t exitCode = RunSetup(package.path);

    const std::wstring confirmed = CurrentInstalledCopy(appVersion);
    if (confirmed.empty()) Fail("Setup ended without confirming the expected installed version");

    WriteEvent("install_succeeded");
    verified.reset();
    WriteEvent(cache::RemoveCachedPackage(package.path) ? "payload_cache_removed" : "payload_cache_cleanup_deferred");
    installedAppPath = confirmed;

    PostStatus(exitCode == kRestartRequiredExitCode ? L"desktop_installer_restart_required"
                                                    : L"desktop_installer_installed",
               100);
    FinishAndClose();
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
        ui::PostStatusUpdate(ui::LookupText(report.statusKey), L"", -1);
    }
    closeBlocked = false;
    flowRunning = false;
    ui::PostToMainWindow(launched ? WM_CLOSE : ui::WM_APP_SHOW_RETRY);
}

}  // namespace tavro::core
