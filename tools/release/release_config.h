#pragma once

#include <string>
#include <vector>

namespace tavro::release {

// What a publisher gives for the installer's embedded configuration.
struct ConfigRequest {
    std::string installerVersion;
    std::string channelUrl;
    std::string offlineUrl;
    std::vector<std::string> allowedHosts;         // empty: the hosts of the two URLs
    std::string macTeamId;                         // written only when given
    std::string bundleId;                          // written only when given
    std::vector<std::string> signerFingerprints;   // SHA-256 of each certificate's DER, lower-case hex
};

// The configuration JSON (UTF-8, one member per line, members in the order the installer
// requires). Both URLs are put through the installer's download URL trust rule under the
// configuration written; a refusal throws its message ("Untrusted download host", ...).
std::string BuildInstallerConfig(const ConfigRequest& request);

}  // namespace tavro::release
