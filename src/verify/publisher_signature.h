#pragma once

#include <string>

#include "json/json.h"

namespace tavro::verify {

// Returns when the file's Authenticode signature is trusted and its primary signer's
// certificate has a SHA-256 fingerprint listed in the configuration's
// "windowsSignerSHA256"; throws "Application signature or publisher mismatch" otherwise.
void VerifyPublisherSignature(const std::wstring& path, const json::JsonObject& config);

// The same against the process's installer configuration.
void VerifyPublisherSignature(const std::wstring& path);

}  // namespace tavro::verify
