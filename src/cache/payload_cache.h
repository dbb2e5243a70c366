#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "cache/cache_cleanup.h"
#include "platform/win_handles.h"

namespace tavro::cache {

// The per-user cache directory LocalAppData\TavroInstaller, created on first use with a
// protected DACL that admits only the current user. Throws "Cannot locate cache",
// "Cannot read user identity", "Cannot read user SID", "Cannot secure cache",
// "Cannot create cache" or "Unsafe cache directory" (unreadable, or a reparse point).
std::wstring OpenPayloadCache();

// The cache directory when it is already there and usable as one (a folder, not a reparse
// point); empty otherwise. Creates nothing and never throws: a start that only looks for a
// setup running from the cache must not make, or depend on, a cache.
std::wstring ExistingPayloadCache() noexcept;

// Removes package and validator files in the cache directory whose last write is more
// than seven days old. Listing errors propagate as FileSystemError naming
// "directory_iterator::directory_iterator" or "directory_iterator::operator++";
// a failed removal is ignored.
void PrunePayloadCache(const std::wstring& cacheDirectory);

// The security descriptor the cache directory is created with: protected (nothing is
// inherited from LocalAppData), one entry giving the process's user full access. Throws
// "Cannot read user identity", "Cannot read user SID" or "Cannot secure cache".
UniqueLocalMemory CacheDirectorySecurity();

// Takes the per-user run lock: "session.lock" in the cache directory, opened with no
// sharing at all and held until the handle closes. Empty when another run holds it.
UniqueFile TryTakeRunLock(const std::wstring& cacheDirectory);

// The package file's name in the cache: the release's SHA-512 hex text and ".exe".
std::wstring PackageFileName(std::wstring_view sha512Hex);

// The file that keeps a package's entity tag: the package's name (or path) and ".etag".
std::wstring ValidatorFileName(std::wstring_view packageFile);

// The package file in the cache, open for reading and writing while it is brought to
// its expected content; others may only read it meanwhile.
struct CachedPackage {
    std::wstring path;
    UniqueFile file;
    std::uint64_t size = 0;
};

// The package file for a release digest, opened read-only and shared for reading only when
// it is already complete: the expected size and exactly that digest. Empty otherwise, a
// missing file included. A setup still running from the file admits readers, not writers.
// Throws "Unsafe cache file" when the path is a reparse point, and the digest's failures.
UniqueFile OpenCompletePackage(const std::wstring& cacheDirectory, std::wstring_view sha512Hex,
                               std::uint64_t expectedSize);

// Opens or creates the package file for a release digest, to download into it. Throws
// "Unsafe cache file" when the path is a reparse point, "Cannot open cached package" or
// "Cannot read cache".
CachedPackage OpenCachedPackage(const std::wstring& cacheDirectory, std::wstring_view sha512Hex);

// Whether the file is already the complete package: its size is the expected one and its
// SHA-512 hex text equals sha512Hex exactly. Throws the digest's failures.
bool IsReusablePackage(const CachedPackage& package, std::uint64_t expectedSize, std::wstring_view sha512Hex);

// Records "payload_started" and empties a file that is not shorter than expected, so a
// download starts over; a shorter file is kept as the prefix to resume. Throws
// "Cannot reset cache".
void ResetPackageForDownload(CachedPackage& package, std::uint64_t expectedSize);

// The entity tag kept for a package: the validator file's first line; empty when the file
// is missing or empty.
std::wstring ReadValidator(const std::wstring& validatorPath);

// Replaces the validator file with the tag as UTF-8 and no line end; best effort.
void WriteValidator(const std::wstring& validatorPath, std::wstring_view entityTag);

// Flushes and closes the package's write handle, then reopens the file read-only and
// shared for reading only, so nobody can change it while it is verified and run.
// Throws "Cannot persist verified package" or "Cannot lock verified package".
UniqueFile LockVerifiedPackage(CachedPackage& package);

// A setup started from a package file of the cache that has not ended yet. `process` can be
// waited on and reads its exit code; it is empty, with `heldOpen` set, when no process that
// can be opened so runs the file but something still keeps writers out of it (a setup of
// another user or integrity level): that counts as running too, though only for a caller
// that holds the run lock, since otherwise another installer may be what holds the file.
// Nothing is set when none runs. Throws the listing's FileSystemError.
struct RunningSetup {
    std::wstring packagePath;
    UniqueKernelHandle process;
    bool heldOpen = false;
    explicit operator bool() const noexcept { return process || heldOpen; }
};
RunningSetup FindRunningCachedSetup(const std::wstring& cacheDirectory, bool runLockHeld);

// Once `installedVersion` is installed and confirmed, and the caller holds the run lock:
// removes what PlanInstalledCleanup names (a package's version is read from its file;
// reparse points are neither read nor removed) and journals "payload_cache_removed", or
// "payload_cache_cleanup_deferred" when a removal or the listing failed. Nothing is
// journaled when there was nothing to remove. Never throws.
void CleanUpInstalledPackages(const std::wstring& cacheDirectory, const std::wstring& installedVersion) noexcept;

}  // namespace tavro::cache
