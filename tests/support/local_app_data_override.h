#pragma once

#include <string>

namespace tavro::testing {

// Points the user's LocalAppData known folder (the "Local AppData" value under User Shell
// Folders, which Wine reads on every lookup) at a fresh folder for the life of the object,
// so a test sees an empty payload cache and never touches the real one; the journal goes
// into that cache, as the installer's does. Restores the value and deletes the folder
// afterwards; events written later are lost. Throws std::runtime_error when the shell does
// not follow the redirection.
class LocalAppDataOverride {
public:
    // Redirects to <root>\LocalAppData, creating that folder when createFolder is true.
    explicit LocalAppDataOverride(bool createFolder = true);
    ~LocalAppDataOverride();
    LocalAppDataOverride(const LocalAppDataOverride&) = delete;
    LocalAppDataOverride& operator=(const LocalAppDataOverride&) = delete;

    // The per-test folder that holds LocalAppData; other scratch files may go here too.
    const std::wstring& Root() const { return root_; }
    // Where LocalAppData now points.
    const std::wstring& LocalAppData() const { return localAppData_; }
    // Where OpenPayloadCache should put the cache.
    std::wstring CacheDirectory() const { return localAppData_ + L"\\TavroInstaller"; }

private:
    // A registry value as it was before the redirection.
    struct SavedValue {
        bool existed = false;
        unsigned long type = 0;
        std::wstring data;
    };

    static SavedValue ReadValue(const wchar_t* subKey);
    void Restore() noexcept;

    std::wstring root_;
    std::wstring localAppData_;
    SavedValue userShellFolder_;  // what the shell reads
    SavedValue shellFolder_;      // the resolved copy Wine writes back on each lookup
};

// Whether this process runs under Wine (which exposes wine_get_unix_file_name).
bool RunningUnderWine();

// Under Wine: creates a Unix symbolic link at linkPath pointing at target (both Windows
// paths; linkPath's folder and the target must exist). Wine 8 reports a link to a
// directory as a reparse point but shows a link to a file as the plain file. Throws
// std::runtime_error on failure.
void MakeUnixSymlink(const std::wstring& target, const std::wstring& linkPath);

// Sets a file's or directory's last write time to now minus the given number of seconds.
void SetLastWriteAge(const std::wstring& path, long long ageSeconds);

}  // namespace tavro::testing
