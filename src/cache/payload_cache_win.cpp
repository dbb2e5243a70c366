#include "cache/payload_cache.h"

#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "cache/file_digest.h"
#include "platform/errors.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "shared/event_log.h"
#include "verify/app_version.h"
#include "verify/running_processes.h"

namespace tavro::cache {

namespace {

// The longest validator file read back.
constexpr std::size_t kMaxValidatorBytes = 65536;

// Seven days in FILETIME units (100 ns).
constexpr std::int64_t kPruneAge = 6048000000000;

std::int64_t FileTimeValue(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

bool IsReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void PruneEntry(const std::wstring& folder, const std::wstring& name, std::int64_t now) {
    if (!IsPrunableCacheName(name)) return;
    const std::wstring path = JoinPath(folder, name);

    // One query gives both; a reparse point reports its own data, and it is skipped
    // anyway, so the time compared is always that of a plain file.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
    if (IsReparsePoint(data.dwFileAttributes)) return;

    if (now - FileTimeValue(data.ftLastWriteTime) > kPruneAge) RemoveFile(path);
}

std::int64_t Now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now);
}

// What the clean-up needs to know of a cache entry; a package's version is read only from
// a plain file.
CacheEntry DescribeEntry(const std::wstring& folder, const std::wstring& name, std::int64_t now) {
    CacheEntry entry;
    entry.name = name;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    // Attributes that cannot be read could hide a reparse point.
    entry.unsafe = !GetFileAttributesExW(JoinPath(folder, name).c_str(), GetFileExInfoStandard, &data) ||
                   IsReparsePoint(data.dwFileAttributes);
    entry.expired = now - FileTimeValue(data.ftLastWriteTime) > kPruneAge;
    if (entry.unsafe || !IsPackageFileName(name)) return entry;
    try {
        entry.version = verify::ReadApplicationVersion(JoinPath(folder, name));
    } catch (const std::exception&) {
        // A partial or damaged download: the plan decides without a version.
    }
    return entry;
}

// LocalAppData\TavroInstaller, whether or not it exists. Throws "Cannot locate cache".
std::wstring CachePath() {
    PWSTR rawFolder = nullptr;
    const HRESULT located = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &rawFolder);
    // The shell's string is ours to free even when the lookup fails.
    const UniqueCoTaskMemory folder(rawFolder);
    if (FAILED(located) || rawFolder == nullptr) Fail("Cannot locate cache");
    return JoinPath(rawFolder, L"TavroInstaller");
}

}  // namespace

UniqueLocalMemory CacheDirectorySecurity() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) Fail("Cannot read user identity");
    const UniqueKernelHandle token(rawToken);

    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) Fail("Cannot read user identity");

    PWSTR rawSid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &rawSid)) {
        Fail("Cannot read user SID");
    }
    const UniqueLocalMemory sid(rawSid);

    // Protected: nothing inherited from LocalAppData, one ACE for this user alone.
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(rawSid) + L")";
    PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &rawDescriptor,
                                                              nullptr)) {
        Fail("Cannot secure cache");
    }
    return UniqueLocalMemory(rawDescriptor);
}

std::wstring OpenPayloadCache() {
    const std::wstring path = CachePath();
    UniqueLocalMemory descriptor = CacheDirectorySecurity();
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = descriptor.get();
    security.bInheritHandle = FALSE;
    const bool created = CreateDirectoryW(path.c_str(), &security) != FALSE;
    const DWORD error = created ? ERROR_SUCCESS : GetLastError();
    descriptor.reset();
    // An existing directory is taken as it is; its access list is not ours to rewrite.
    if (!created && error != ERROR_ALREADY_EXISTS) Fail("Cannot create cache");

    // A junction or link would hand the cache, and what runs from it, to another place.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || IsReparsePoint(attributes)) Fail("Unsafe cache directory");
    return path;
}

UniqueFile TryTakeRunLock(const std::wstring& cacheDirectory) {
    const std::wstring path = JoinPath(cacheDirectory, L"session.lock");
    return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

void PrunePayloadCache(const std::wstring& cacheDirectory) {
    const std::int64_t now = Now();
    ForEachDirectoryEntry(cacheDirectory, [&](const std::wstring& name) { PruneEntry(cacheDirectory, name, now); });
}

std::wstring PackageFileName(std::wstring_view sha512Hex) {
    return std::wstring(sha512Hex) + L".exe";
}

std::wstring ValidatorFileName(std::wstring_view packageFile) {
    return std::wstring(packageFile) + L".etag";
}

UniqueFile OpenCompletePackage(const std::wstring& cacheDirectory, std::wstring_view sha512Hex,
                               std::uint64_t expectedSize) {
    CachedPackage package;
    package.path = JoinPath(cacheDirectory, PackageFileName(sha512Hex));
    if (IsReparsePoint(GetFileAttributesW(package.path.c_str()))) Fail("Unsafe cache file");
    // Read-only: a setup that an ended installer left running holds the file against writers.
    package.file.reset(CreateFileW(package.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!package.file || !GetFileSizeEx(package.file.get(), &size)) return {};
    package.size = static_cast<std::uint64_t>(size.QuadPart);
    if (!IsReusablePackage(package, expectedSize, sha512Hex)) return {};
    return std::move(package.file);
}

CachedPackage OpenCachedPackage(const std::wstring& cacheDirectory, std::wstring_view sha512Hex) {
    CachedPackage package;
    package.path = JoinPath(cacheDirectory, PackageFileName(sha512Hex));

    // Checked before the open: CreateFileW would follow a link to wherever it points.
    if (IsReparsePoint(GetFileAttributesW(package.path.c_str()))) Fail("Unsafe cache file");

    package.file.reset(CreateFileW(package.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!package.file) Fail("Cannot open cached package");

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(package.file.get(), &size)) Fail("Cannot read cache");
    package.size = static_cast<std::uint64_t>(size.QuadPart);
    return package;
}

bool IsReusablePackage(const CachedPackage& package, std::uint64_t expectedSize, std::wstring_view sha512Hex) {
    if (package.size != expectedSize) return false;
    return HashFileSha512(package.file.get()) == sha512Hex;
}

void ResetPackageForDownload(CachedPackage& package, std::uint64_t expectedSize) {
    WriteEvent("payload_started");
    if (package.size < expectedSize) return;
    // Not shorter than expected but not the package: nothing in it can be resumed.
    const LARGE_INTEGER start{};
    if (!SetFilePointerEx(package.file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(package.file.get())) {
        Fail("Cannot reset cache");
    }
    package.size = 0;
}

std::wstring ReadValidator(const std::wstring& validatorPath) {
    std::string bytes;
    // Any server's tag fits; a file beyond this is not one that this installer wrote.
    if (!ReadFileBytes(validatorPath, bytes, kMaxValidatorBytes)) return {};
    // Text mode would have dropped the carriage return of a CR LF line end.
    std::string line = bytes.substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return Utf8ToWide(line);
}

void WriteValidator(const std::wstring& validatorPath, std::wstring_view entityTag) {
    // Byte for byte, whatever the tag holds.
    WriteFileBytes(validatorPath, WideToUtf8(entityTag));
}

UniqueFile LockVerifiedPackage(CachedPackage& package) {
    if (!FlushFileBuffers(package.file.get())) Fail("Cannot persist verified package");
    package.file.reset();
    UniqueFile readOnly(CreateFileW(package.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!readOnly) Fail("Cannot lock verified package");
    return readOnly;
}

std::wstring ExistingPayloadCache() noexcept {
    try {
        std::wstring path = CachePath();
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || IsReparsePoint(attributes) ||
            (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return {};
        }
        return path;
    } catch (...) {
        return {};
    }
}

RunningSetup FindRunningCachedSetup(const std::wstring& cacheDirectory, bool runLockHeld) {
    std::vector<std::wstring> packages;
    ForEachDirectoryEntry(cacheDirectory, [&](const std::wstring& name) {
        if (IsPackageFileName(name)) packages.push_back(JoinPath(cacheDirectory, name));
    });
    RunningSetup found;
    for (const std::wstring& path : packages) {
        found.process = verify::OpenProcessRunningFile(path);
        if (found.process) {
            found.packagePath = path;
            return found;
        }
    }
    if (!runLockHeld) return found;
    // No installer of this user holds a package now: what keeps writers out runs from it.
    for (const std::wstring& path : packages) {
        if (IsFileHeldAgainstWriters(path)) {
            found.packagePath = path;
            found.heldOpen = true;
            return found;
        }
    }
    return found;
}

void CleanUpInstalledPackages(const std::wstring& cacheDirectory, const std::wstring& installedVersion) noexcept {
    bool planned = false;
    bool allRemoved = true;
    try {
        const std::int64_t now = Now();
        std::vector<CacheEntry> entries;
        ForEachDirectoryEntry(cacheDirectory, [&](const std::wstring& name) {
            if (IsPrunableCacheName(name)) entries.push_back(DescribeEntry(cacheDirectory, name, now));
        });
        for (const std::wstring& name : PlanInstalledCleanup(entries, installedVersion)) {
            planned = true;
            // Every removal is tried, whatever became of the one before.
            if (!RemoveFile(JoinPath(cacheDirectory, name))) allRemoved = false;
        }
    } catch (...) {
        planned = true;
        allRemoved = false;
    }
    if (planned) WriteEvent(allRemoved ? "payload_cache_removed" : "payload_cache_cleanup_deferred");
}

}  // namespace tavro::cache
