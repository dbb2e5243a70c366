#include "verify/installed_app.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <exception>
#include <vector>

#include "platform/file_system.h"
#include "platform/unique_handle.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"
#include "verify/path_normalize.h"
#include "verify/publisher_signature.h"

namespace tavro::verify {

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kExecutableName[] = L"Tavro.exe";
constexpr DWORD kMaxValueBytes = 32768;

struct UninstallRecord {
    std::wstring displayName;
    std::wstring installLocation;
    std::wstring displayIcon;
    std::wstring uninstallString;
};

// A REG_SZ value up to 32,768 bytes; anything else (absent, another type such as
// REG_EXPAND_SZ, too large, unreadable) reads as empty. Nothing is expanded.
std::wstring ReadRegistryString(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size > kMaxValueBytes) {
        return {};
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = size;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read) != ERROR_SUCCESS) {
        return {};
    }
    return std::wstring(buffer.data());  // up to the first NUL
}

std::wstring JoinExecutable(const std::wstring& folder) {
    return JoinPath(folder, kExecutableName);
}

std::wstring IconPath(const std::wstring& iconLocation) {
    std::vector<wchar_t> buffer(iconLocation.begin(), iconLocation.end());
    buffer.push_back(L'\0');
    PathParseIconLocationW(buffer.data());
    return std::wstring(buffer.data());
}

std::wstring UninstallFolderExecutable(const std::wstring& uninstallString) {
    int count = 0;
    wchar_t** const argv = CommandLineToArgvW(uninstallString.c_str(), &count);
    if (argv == nullptr) return {};
    const UniqueLocalMemory owner(argv);
    if (count < 1) return {};
    // Cut as text, the last name and the separators before it: parent_path() would keep a
    // root's backslash and turn an uninstaller at C:\ into C:\Tavro.exe, where the bare
    // drive left over must give the drive-relative C:Tavro.exe that the search refuses.
    std::wstring folder = argv[0];
    const std::size_t last = folder.find_last_of(L"\\/");
    folder.erase(last == std::wstring::npos ? 0 : last);
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return JoinExecutable(folder);
}

std::vector<std::wstring> Candidates(const UninstallRecord& record) {
    std::vector<std::wstring> candidates;
    if (!record.installLocation.empty()) candidates.push_back(JoinExecutable(record.installLocation));
    if (!record.displayIcon.empty()) candidates.push_back(IconPath(record.displayIcon));
    if (!record.uninstallString.empty()) {
        const std::wstring candidate = UninstallFolderExecutable(record.uninstallString);
        if (!candidate.empty()) candidates.push_back(candidate);
    }
    return candidates;
}

struct SearchFlags {
    bool stale = false;
    bool unsafe = false;
};

bool IsAcceptable(const std::wstring& candidate, SearchFlags& flags) {
    if (!IsAbsoluteWindowsPath(candidate)) {
        flags.unsafe = true;
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    const DWORD attributes = GetFileAttributesW(candidate.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? flags.stale : flags.unsafe) = true;
        return false;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        flags.unsafe = true;
        return false;
    }
    try {
        VerifyPublisherSignature(candidate);
    } catch (const std::exception&) {
        return false;  // another publisher's file, or not signed: no trace
    }
    return true;
}

// The application's path from one uninstall key, or empty.
std::wstring SearchUninstallKey(HKEY root, REGSAM view, SearchFlags& flags) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, kUninstallKey, 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return {};
    const UniqueRegistryKey uninstall(opened);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD nameLength = 256;
        if (RegEnumKeyExW(uninstall.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return {};
        }
        UninstallRecord record;
        {
            HKEY subkey = nullptr;
            if (RegOpenKeyExW(uninstall.get(), name, 0, KEY_READ | view, &subkey) != ERROR_SUCCESS) continue;
            const UniqueRegistryKey entry(subkey);
            record = {ReadRegistryString(entry.get(), L"DisplayName"), ReadRegistryString(entry.get(), L"InstallLocation"),
                      ReadRegistryString(entry.get(), L"DisplayIcon"), ReadRegistryString(entry.get(), L"UninstallString")};
        }
        if (!IsApplicationDisplayName(record.displayName)) continue;
        for (const std::wstring& candidate : Candidates(record)) {
            if (IsAcceptable(candidate, flags)) return candidate;
        }
    }
}

}  // namespace

std::wstring FindInstalledApplication() {
    struct Place {
        HKEY root;
        REGSAM view;
    };
    static const Place kPlaces[] = {
        {HKEY_CURRENT_USER, KEY_WOW64_64KEY},
        {HKEY_CURRENT_USER, KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY},
        {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
    };
    SearchFlags flags;
    for (const Place& place : kPlaces) {
        std::wstring found = SearchUninstallKey(place.root, place.view, flags);
        if (!found.empty()) return found;
    }
    if (flags.stale) WriteEvent("stale_install_record_ignored");
    if (flags.unsafe) WriteEvent("unsafe_install_record_ignored");
    return {};
}

}  // namespace tavro::verify
