#include "release_config.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "feed/url_crack.h"
#include "feed/url_trust.h"
#include "json/json.h"
#include "platform/text.h"

namespace tavro::release {

namespace {

std::string Quoted(const std::string& text) {
    return WideToUtf8(json::JsonValue::CreateStringValue(Utf8ToWide(text)).Stringify());
}

std::string QuotedList(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? ", " : "") + Quoted(texts[i]);
    return out + "]";
}

bool IsFingerprint(const std::string& text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

std::string BuildInstallerConfig(const ConfigRequest& request) {
    if (request.signerFingerprints.empty()) throw std::runtime_error("at least one signer certificate is needed");
    for (const std::string& fingerprint : request.signerFingerprints) {
        if (!IsFingerprint(fingerprint)) throw std::runtime_error("not a SHA-256 fingerprint: " + fingerprint);
    }
    std::vector<std::string> hosts = request.allowedHosts;
    if (hosts.empty()) {
        // The download host first, then the web host, as the installer lists them.
        for (const std::string* url : {&request.channelUrl, &request.offlineUrl}) {
            const std::optional<feed::CrackedUrl> cracked = feed::CrackUrl(Utf8ToWide(*url));
            if (!cracked) continue;  // the trust check below names the fault
            const std::string host = WideToUtf8(cracked->host);
            if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
        }
    }

    std::string text = "{\n  \"installerVersion\": " + Quoted(request.installerVersion) +
                       ",\n  \"channelURL\": " + Quoted(request.channelUrl) +
                       ",\n  \"offlineURL\": " + Quoted(request.offlineUrl) +
                       ",\n  \"allowedHosts\": " + QuotedList(hosts);
    if (!request.macTeamId.empty()) text += ",\n  \"macTeamID\": " + Quoted(request.macTeamId);
    if (!request.bundleId.empty()) text += ",\n  \"bundleID\": " + Quoted(request.bundleId);
    text += ",\n  \"windowsSignerSHA256\": " + QuotedList(request.signerFingerprints) + "\n}\n";

    // The checks the installer makes at every start, on the very text it will embed.
    const json::JsonObject config = json::JsonObject::Parse(Utf8ToWide(text));
    for (const wchar_t* member : {L"channelURL", L"offlineURL"}) {
        const std::wstring url = config.GetNamedString(member);
        try {
            feed::CheckDownloadUrl(url, config);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(std::string(e.what()) + ": " + WideToUtf8(member) + " " + WideToUtf8(url) +
                                     " (allowedHosts " + QuotedList(hosts) + ")");
        }
    }
    return text;
}

}  // namespace tavro::release
