#include "net/package_download.h"

#include "net/fetch_url.h"

namespace tavro::net {

void DownloadCachedPackage(cache::CachedPackage& package, const std::wstring& url, std::uint64_t expectedSize,
                           std::wstring& validator) {
    // The request is guarded by a copy; the response's tag replaces `validator` as soon as
    // it arrives, so after a restart that fails mid-body the tag matches the bytes kept.
    FetchUrl(url, package.file.get(), expectedSize, validator, &validator);
    cache::WriteValidator(cache::ValidatorFileName(package.path), validator);
}

}  // namespace tavro::net
