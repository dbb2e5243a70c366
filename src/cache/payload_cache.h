#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_handles.h"

namespace tavro::cache {

// The per-user cache directory LocalAppData\TavroInstaller, created on first use with a
// protected DACL that admits only the current user. Throws "Cannot locate cache",
// "Cannot read user identity", "Cannot read user SID", "Cannot secure cache",
// "Cannot create cache" or "Unsafe cache directory" (unreadable, or a reparse point).
std::wstring OpenPayloadCache();

// Removes package and validator files in the cache directory whose last write is more
// than seven days old. Listing errors propagate as FileSystemError naming
// "directory_iterator::directory_iterator" or "directory_iterator::operator++";
// a failed removal is ignored.
void PrunePayloadCache(const std::wstring& cacheDirectory);

// The security descriptor the cache directory is created with: protected (nothing is
// inherited from LocalAppData), one entry giving the process's user full access. Throws
// "Cannot read user identity", "Cannot read user SID" or "Cannot secure cache".
UniqueLocalMemory CacheDirectorySecurity();

// Whether a file name in the cache is one that pruning may remove: 64 or 128 lower-case
// hex digits, ".exe", optionally ".etag", and nothing else.
bool IsPrunableCacheName(std::wstring_view name);

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

// Opens or creates the package file for a release digest. Throws "Unsafe cache file"
// when the path is a reparse point, "Cannot open cached package" or "Cannot read cache".
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

// Removes the package file and then its validator file (the caller has closed the
// package). True when both are gone, a file that was already absent included.
bool RemoveCachedPackage(const std::wstring& packagePath);

}  // namespace tavro::cache
