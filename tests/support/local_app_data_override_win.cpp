#include "support/local_app_data_override.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <utility>
#include <vector>

#include "cache/payload_cache.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"

namespace tavro::testing {

namespace {

constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kLocalAppDataValue[] = L"Local AppData";
// Every per-test folder carries this in its name; a value still holding it was left by a
// run that crashed before restoring, and the shell's default is put back instead.
constexpr wchar_t kFolderMark[] = L"tavro-cache-test-";
constexpr wchar_t kDefaultLocalAppData[] = L"%USERPROFILE%\\AppData\\Local";

UniqueRegistryKey OpenKey(const wchar_t* subKey) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot open a shell folders key");
    }
    return UniqueRegistryKey(key);
}

void SetStringValue(const wchar_t* subKey, DWORD type, const std::wstring& data) {
    const UniqueRegistryKey key = OpenKey(subKey);
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key.get(), kLocalAppDataValue, 0, type, reinterpret_cast<const BYTE*>(data.c_str()), bytes) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot set Local AppData");
    }
}

std::wstring ExpandedDefault() {
    wchar_t expanded[MAX_PATH] = {};
    const DWORD length = ExpandEnvironmentStringsW(kDefaultLocalAppData, expanded, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::wstring(expanded) : std::wstring();
}

std::wstring KnownLocalAppData() {
    PWSTR path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path);
    std::wstring text = SUCCEEDED(result) && path != nullptr ? path : L"";
    CoTaskMemFree(path);
    return text;
}

using UnixFileNameFunction = char*(CDECL*)(const wchar_t*);

UnixFileNameFunction UnixFileNameGetter() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr
               ? reinterpret_cast<UnixFileNameFunction>(
                     reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
               : nullptr;
}

std::string UnixPath(const std::wstring& windowsPath) {
    const UnixFileNameFunction getter = UnixFileNameGetter();
    if (getter == nullptr) throw std::runtime_error("not running under Wine");
    char* path = getter(windowsPath.c_str());
    if (path == nullptr) throw std::runtime_error("no Unix path for " + WideToUtf8(windowsPath));
    std::string text = path;
    HeapFree(GetProcessHeap(), 0, path);
    return text;
}

std::wstring Quoted(const std::string& text) {
    return L"\"" + Utf8ToWide(text) + L"\"";
}

// Wine runs a Unix program from CreateProcessW but returns no process handle to wait on
// (and no thread handle worth closing), so callers poll for the program's effect.
void StartUnixProgram(const std::wstring& commandLine) {
    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        throw std::runtime_error("cannot start " + WideToUtf8(commandLine));
    }
    if (info.hProcess != nullptr) {
        const UniqueKernelHandle process(info.hProcess);
        const UniqueKernelHandle thread(info.hThread);
    }
}

template <class Condition>
bool WaitUntil(Condition condition) {
    for (int i = 0; i < 3000; ++i) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
}

void RemoveFolder(const std::wstring& root) {
    if (RunningUnderWine()) {
        // Wine follows a Unix link when it deletes through it, so a Windows-side removal of
        // a tree holding links would empty their targets; rm removes the links themselves.
        const std::string unixRoot = UnixPath(root);
        if (unixRoot.find("tavro-cache-test-") == std::string::npos) return;
        StartUnixProgram(L"Z:\\bin\\rm -rf -- " + Quoted(unixRoot));
        WaitUntil([&] { return GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES; });
        return;
    }
    // Without Wine no test makes a link, so nothing here can lead outside the folder.
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

}  // namespace

LocalAppDataOverride::SavedValue LocalAppDataOverride::ReadValue(const wchar_t* subKey) {
    const UniqueRegistryKey key = OpenKey(subKey);
    SavedValue saved;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), kLocalAppDataValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return saved;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), kLocalAppDataValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return saved;
    }
    saved.existed = true;
    saved.type = type;
    saved.data = data.data();
    return saved;
}

LocalAppDataOverride::LocalAppDataOverride(bool createFolder) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, temp) == 0) throw std::runtime_error("no temp folder");
    root_ = std::wstring(temp) + kFolderMark + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64());
    localAppData_ = root_ + L"\\LocalAppData";
    if (!CreateDirectoryW(root_.c_str(), nullptr)) throw std::runtime_error("cannot create the test folder");
    if (createFolder && !CreateDirectoryW(localAppData_.c_str(), nullptr)) {
        RemoveFolder(root_);
        throw std::runtime_error("cannot create the test LocalAppData");
    }

    userShellFolder_ = ReadValue(kUserShellFolders);
    shellFolder_ = ReadValue(kShellFolders);
    if (!userShellFolder_.existed || userShellFolder_.data.find(kFolderMark) != std::wstring::npos) {
        userShellFolder_ = {true, REG_EXPAND_SZ, kDefaultLocalAppData};
    }
    if (shellFolder_.existed && shellFolder_.data.find(kFolderMark) != std::wstring::npos) {
        shellFolder_ = {true, REG_SZ, ExpandedDefault()};
    }

    SetStringValue(kUserShellFolders, REG_SZ, localAppData_);
    // The shell refuses a folder that does not exist; only an existing one can be compared.
    if (createFolder && _wcsicmp(KnownLocalAppData().c_str(), localAppData_.c_str()) != 0) {
        Restore();
        throw std::runtime_error("the shell does not follow the Local AppData redirection");
    }
    SetJournalFolder(&cache::OpenPayloadCache);
}

LocalAppDataOverride::~LocalAppDataOverride() {
    SetJournalFolder(nullptr);
    Restore();
}

void LocalAppDataOverride::Restore() noexcept {
    const std::pair<const wchar_t*, const SavedValue*> values[] = {{kUserShellFolders, &userShellFolder_},
                                                                   {kShellFolders, &shellFolder_}};
    for (const auto& [subKey, saved] : values) {
        try {
            if (saved->existed) {
                SetStringValue(subKey, saved->type, saved->data);
            } else {
                RegDeleteValueW(OpenKey(subKey).get(), kLocalAppDataValue);
            }
        } catch (...) {
        }
    }
    try {
        RemoveFolder(root_);
    } catch (...) {
    }
}

bool RunningUnderWine() {
    return UnixFileNameGetter() != nullptr;
}

void MakeUnixSymlink(const std::wstring& target, const std::wstring& linkPath) {
    const std::size_t slash = linkPath.find_last_of(L'\\');
    if (slash == std::wstring::npos) throw std::runtime_error("link path has no folder");
    const std::string unixLink = UnixPath(linkPath.substr(0, slash)) + "/" + WideToUtf8(linkPath.substr(slash + 1));
    StartUnixProgram(L"Z:\\bin\\ln -s -- " + Quoted(UnixPath(target)) + L" " + Quoted(unixLink));
    // The target exists, so the link reads as present once ln has made it.
    if (!WaitUntil([&] { return GetFileAttributesW(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES; })) {
        throw std::runtime_error("ln did not create " + unixLink);
    }
}

void SetLastWriteAge(const std::wstring& path, long long ageSeconds) {
    const UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) throw std::runtime_error("cannot open for times " + WideToUtf8(path));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    // A negative age gives a time in the future.
    const auto units = static_cast<std::uint64_t>(
        static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
        static_cast<std::int64_t>(ageSeconds) * 10000000);
    FILETIME stamp{};
    stamp.dwLowDateTime = static_cast<DWORD>(units);
    stamp.dwHighDateTime = static_cast<DWORD>(units >> 32);
    if (!SetFileTime(file.get(), nullptr, nullptr, &stamp)) throw std::runtime_error("cannot set time");
}

}  // namespace tavro::testing
