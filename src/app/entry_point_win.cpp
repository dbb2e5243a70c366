#include "app/entry_point.h"

#include <objbase.h>
#include <objidl.h>  // before gdiplus.h (through media.h): the lean Windows headers leave out PROPID
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/run_modes.h"
#include "cache/payload_cache.h"
#include "feed/feed_parser.h"
#include "feed/release_descriptor.h"
#include "feed/url_trust.h"
#include "launch/launch_handshake.h"
#include "platform/errors.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"
#include "shared/installer_config.h"
#include "shared/localized_strings.h"
#include "shared/process_state.h"
#include "ui/installer_window.h"
#include "ui/media.h"
#include "verify/app_version.h"
#include "verify/installed_app.h"

namespace tavro::app {

namespace {

constexpr wchar_t kCaption[] = L"Tavro Installer";

std::vector<std::wstring> SplitCommandLine() {
    int count = 0;
    wchar_t** const argv = CommandLineToArgvW(GetCommandLineW(), &count);
    ThrowLastErrorIf(argv == nullptr);
    const UniqueLocalMemory owner(argv);
    return std::vector<std::wstring>(argv, argv + count);
}

// The feed file's bytes. A file that cannot be opened reads as empty, and the feed
// check then refuses it. Reading stops one byte past the feed size limit: that is
// enough for the verdict and keeps a huge file from exhausting memory.
std::string ReadFeedFile(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes(feed::kMaxFeedBytes + 1, '\0');
    size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD read = 0;
        const auto wanted = static_cast<DWORD>(bytes.size() - filled);
        if (!ReadFile(file.get(), bytes.data() + filled, wanted, &read, nullptr) || read == 0) break;
        filled += read;
    }
    bytes.resize(filled);
    return bytes;
}

// Runs the window thread's messages until the window is gone; dialog keys (Tab, Space,
// Enter) reach the Retry button first.
void RunMessageLoop(HWND window) {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (ui::HandlePageKey(message) || IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Whether a setup that an ended installer started from the cache still runs. A cache that
// cannot be listed has nothing to find.
bool CachedSetupRuns(const std::wstring& cacheDirectory, bool runLockHeld) noexcept {
    try {
        return static_cast<bool>(cache::FindRunningCachedSetup(cacheDirectory, runLockHeld));
    } catch (...) {
        return false;
    }
}

// Starts the installed copy. False, with nothing started, while a setup that an ended
// installer started from the cache still runs: the window's run waits for that setup, and
// the copy it may be replacing stays closed meanwhile. Only a cache that is already there
// and usable is looked at, and nothing is created: where there is none, nothing can run
// from it. Cached packages that the installed copy makes useless go here, since a start
// that hands over never reaches an install run, whose pruning would take them; without the
// run lock (another installer runs) they wait for a later start.
bool HandOverToInstalledCopy(const std::wstring& installed) {
    const std::wstring cacheDirectory = cache::ExistingPayloadCache();
    UniqueFile runLock;
    if (!cacheDirectory.empty()) {
        runLock = cache::TryTakeRunLock(cacheDirectory);
        if (CachedSetupRuns(cacheDirectory, static_cast<bool>(runLock))) return false;
    }
    WriteEvent("installed_app_detected_at_startup");
    if (runLock) {
        try {
            cache::CleanUpInstalledPackages(cacheDirectory, verify::ReadApplicationVersion(installed));
        } catch (...) {
            // A version that cannot be read only leaves the packages for a later start.
        }
        runLock.reset();
    }
    launch::LaunchWithHandshake(installed);
    return true;
}

int Start(HINSTANCE instance, int showCommand) {
    // The journal lives in the payload cache.
    SetJournalFolder(&cache::OpenPayloadCache);
    ThrowIfFailed(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    LoadLocalizedStrings();
    LoadInstallerConfig();
    // Proves at every start that both configured URLs are acceptable.
    feed::CheckDownloadUrl(json::GetJsonString(InstallerConfig(), L"channelURL"));
    feed::CheckDownloadUrl(json::GetJsonString(InstallerConfig(), L"offlineURL"));

    const RunRequest request = ParseRunMode(SplitCommandLine());
    switch (request.mode) {
    case RunMode::FeedCheck:
        verifyMode = true;
        feed::BuildReleaseDescriptor(ReadFeedFile(request.feedPath));
        return 0;
    case RunMode::InstalledCheck:
        verifyMode = true;
        if (verify::FindInstalledApplication().empty()) Fail("Installed Tavro was not found");
        return 0;
    case RunMode::Preview:
        uiPreview = true;
        break;
    case RunMode::Interactive:
        break;
    }
    if (!uiPreview) {
        // An installed copy is started instead of installing; if that fails in any way the
        // installer window takes over, without showing the failure.
        try {
            const std::wstring installed = verify::FindInstalledApplication();
            if (!installed.empty() && HandOverToInstalledCopy(installed)) return 0;
        } catch (...) {
            WriteEvent("installed_app_startup_launch_failed");
        }
    }
    RunMessageLoop(ui::CreateInstallerWindow(instance, showCommand));
    CloseMedia();
    return 0;
}

}  // namespace

int RunInstaller(HINSTANCE instance, int showCommand) {
    try {
        return Start(instance, showCommand);
    } catch (...) {
        // Every start-up failure, of any kind, ends here; its English message is not shown.
        if (verifyMode) return 1;
        MessageBoxW(nullptr, LookupText(L"desktop_installer_verification_error").c_str(), kCaption,
                    MB_OK | MB_ICONERROR);
        return 1;
    }
}

}  // namespace tavro::app
