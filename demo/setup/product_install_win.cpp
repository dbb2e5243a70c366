#include "product_install_win.h"

#include <windows.h>

#include "atomic_file_win.h"
#include "demo_errors_win.h"
#include "demo_handles_win.h"
#include "demo_paths_win.h"
#include "module_version_win.h"
#include "payload_ids.h"

namespace tavro::demo {

namespace {

constexpr wchar_t kLeftoverPrefix[] = L"Tavro-uninstall-";
constexpr wchar_t kPublisher[] = L"Tavro Demo Publisher";

std::string_view LoadPayload(Payload payload) {
    int id = TAVRO_PAYLOAD_CURRENT;
    if (payload == Payload::kLowerVersion) id = TAVRO_PAYLOAD_LOWER_VERSION;
    if (payload == Payload::kOtherPublisher) id = TAVRO_PAYLOAD_OTHER_PUBLISHER;
    // Resources live as long as the module: nothing here needs releasing.
    const HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (info == nullptr) ThrowLastError("FindResourceW");
    const HGLOBAL loaded = LoadResource(nullptr, info);
    const DWORD size = SizeofResource(nullptr, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) DemoFail("The setup's payload is missing");
    return {static_cast<const char*>(bytes), size};
}

void CreateFolder(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return;
    if (GetLastError() != ERROR_ALREADY_EXISTS) ThrowLastError("CreateDirectoryW");
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        DemoFail("Not a folder: the install location is taken by a file");
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        ThrowLastError("RegSetValueExW");
    }
}

std::wstring TempFolderPath() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) ThrowLastError("GetTempPathW");
    return std::wstring(buffer, length);
}

// Uninstallers that earlier runs moved aside while they were running; those that
// have ended can go now (a running one refuses and stays until a later run).
void RemoveUninstallerLeftovers() noexcept {
    try {
        const std::wstring temp = TempFolderPath();
        WIN32_FIND_DATAW found{};
        const UniqueFindHandle search(FindFirstFileW(JoinPath(temp, std::wstring(kLeftoverPrefix) + L"*.tmp").c_str(), &found));
        if (!search) return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(JoinPath(temp, found.cFileName).c_str());
        } while (FindNextFileW(search.get(), &found));
    } catch (...) {
    }
}

// A running program cannot delete its own file, but it may rename it: the
// uninstaller moves itself out of the folder, into the temporary folder on the same
// volume, and asks for it to be deleted at the next restart. Returns false when it
// has to stay (another volume, say).
bool MoveRunningUninstallerAside(const std::wstring& self) {
    try {
        const std::wstring aside = JoinPath(TempFolderPath(), std::wstring(kLeftoverPrefix) +
                                                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                                  std::to_wstring(GetTickCount64()) + L".tmp");
        if (!MoveFileExW(self.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
        // Needs rights that an ordinary user may lack; the next run's sweep is the fallback.
        MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

std::optional<Payload> ParsePayload(std::wstring_view name) {
    if (name.empty() || name == L"current") return Payload::kCurrent;
    if (name == L"wrong-version") return Payload::kLowerVersion;
    if (name == L"other-publisher") return Payload::kOtherPublisher;
    return std::nullopt;
}

const char* PayloadName(Payload payload) {
    switch (payload) {
        case Payload::kCurrent: return "current";
        case Payload::kLowerVersion: return "wrong-version";
        case Payload::kOtherPublisher: return "other-publisher";
    }
    return "unknown";
}

std::wstring InstallProduct(Payload payload) {
    const std::wstring self = ModulePath();
    const std::wstring version = ReadProductVersion(self);
    const std::string_view bytes = LoadPayload(payload);

    CreateFolder(JoinPath(LocalAppDataPath(), L"Programs"));
    const std::wstring folder = ProductFolderPath();
    CreateFolder(folder);
    const std::wstring app = JoinPath(folder, kAppFileName);
    WriteFileAtomically(app, bytes);
    const std::wstring uninstaller = JoinPath(folder, kUninstallerFileName);
    // Run again from the installed uninstaller (without /uninstall), it is already in place.
    if (!SamePath(self, uninstaller)) CopyFileAtomically(self, uninstaller);

    HKEY raw = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
    const UniqueRegistryKey key(raw);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        ThrowLastError("RegCreateKeyExW");
    }
    SetString(key.get(), L"DisplayName", L"Tavro");
    SetString(key.get(), L"DisplayVersion", version);
    SetString(key.get(), L"Publisher", kPublisher);
    SetString(key.get(), L"InstallLocation", folder);
    SetString(key.get(), L"DisplayIcon", app + L",0");
    SetString(key.get(), L"UninstallString", L"\"" + uninstaller + L"\" /uninstall");

    RemoveUninstallerLeftovers();
    return folder;
}

bool UninstallProduct() {
    const std::wstring folder = ProductFolderPath();
    const std::wstring app = JoinPath(folder, kAppFileName);
    if (!DeleteFileW(app.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND)
        ThrowLastError("DeleteFileW of Tavro.exe");

    const LSTATUS status = RegDeleteKeyExW(HKEY_CURRENT_USER, kUninstallKey, KEY_WOW64_64KEY, 0);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        SetLastError(static_cast<DWORD>(status));
        ThrowLastError("RegDeleteKeyExW");
    }

    const std::wstring self = ModulePath();
    const std::wstring uninstaller = JoinPath(folder, kUninstallerFileName);
    bool complete = true;
    if (SamePath(self, uninstaller)) {
        complete = MoveRunningUninstallerAside(self);
    } else if (!DeleteFileW(uninstaller.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
               GetLastError() != ERROR_PATH_NOT_FOUND) {
        complete = false;
    }
    // Fails, and so keeps the folder, when anything else is still in it.
    RemoveDirectoryW(folder.c_str());
    RemoveUninstallerLeftovers();
    return complete;
}

}  // namespace tavro::demo
