#include "feed/url_trust.h"

#include "feed/url_crack.h"
#include "platform/errors.h"
#include "shared/installer_config.h"

namespace tavro::feed {

void CheckDownloadUrl(std::wstring_view url, const json::JsonObject& config) {
    const std::optional<CrackedUrl> cracked = CrackUrl(url);
    if (!cracked) Fail("Invalid download URL");
    if (cracked->scheme != kSchemeHttps || cracked->port != 443 || cracked->userNameLength != 0 ||
        cracked->passwordLength != 0 || url.find(L'#') != std::wstring_view::npos) {
        Fail("Untrusted download URL");
    }

    // Read afresh on every check; every element is visited, so a malformed entry
    // anywhere in the list is a failure rather than something a match can hide.
    const json::JsonArray allowedHosts = config.GetNamedArray(L"allowedHosts");
    bool allowed = false;
    for (std::size_t i = 0; i < allowedHosts.Size(); ++i) {
        if (allowedHosts.GetStringAt(i) == cracked->host) allowed = true;
    }
    if (!allowed) Fail("Untrusted download host");
}

void CheckDownloadUrl(std::wstring_view url) {
    CheckDownloadUrl(url, InstallerConfig());
}

}  // namespace tavro::feed
