#pragma once

#include <cstdint>
#include <string>

#include "cache/payload_cache.h"

namespace tavro::net {

// Brings the cached package to its complete content from `url`: resumes what the file
// holds, guarded by `validator` (the entity tag kept for it); the response's entity tag
// replaces `validator` and is written to the package's validator file as soon as the
// response head is accepted, and again on success. On a
// failure the partial file stays as it is and `validator` holds the tag that matches it,
// for the caller to keep before it decides about another attempt.
void DownloadCachedPackage(cache::CachedPackage& package, const std::wstring& url, std::uint64_t expectedSize,
                           std::wstring& validator);

}  // namespace tavro::net
