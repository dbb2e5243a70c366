#include "net/package_download.h"

#include "net/fetch_url.h"

namespace tavro::net {

void DownloadCachedPackage(cache::CachedPackage& package, const std::wstring& url, std::uint64_t expectedSize,
                           std::wstring& validator) {
    // The request is guarded by a copy; the response's tag replaces `validator` as soon as
    // it arrives, so after a restart that fails mid-body the tag matches the bytes kept.
    // The tag is also written the moment the head is accepted: a run killed mid-body (a
    // crash, power loss) never reaches the later writes, and its successor must still be
    // able to guard its range request with If-Range.
    const std::wstring validatorPath = cache::ValidatorFileName(package.path);
    FetchUrl(url, package.file.get(), expectedSize, validator, &validator,
             [&validatorPath](const std::wstring& entityTag) { cache::WriteValidator(validatorPath, entityTag); });
    cache::WriteValidator(validatorPath, validator);
}

}  // namespace tavro::net
