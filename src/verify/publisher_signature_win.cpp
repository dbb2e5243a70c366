#include "verify/publisher_signature.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include "platform/errors.h"
#include "platform/system_functions.h"
#include "shared/installer_config.h"
#include "shared/lower_hex.h"

namespace tavro::verify {

namespace {

// One verification: WinVerifyTrust with the verify action, and exactly one close of the
// state it leaves behind, on every path.
class TrustVerification {
public:
    explicit TrustVerification(const std::wstring& path) {
        file_.cbStruct = sizeof file_;
        file_.pcwszFilePath = path.c_str();
        data_.cbStruct = sizeof data_;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ = WinTrust().WinVerifyTrust(nullptr, &action_, &data_);
    }
    ~TrustVerification() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinTrust().WinVerifyTrust(nullptr, &action_, &data_);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG result() const { return result_; }
    HANDLE state() const { return data_.hWVTStateData; }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG result_ = 0;
};

// The SHA-256 fingerprint of the primary signer's certificate, or empty when there is none.
std::wstring SignerFingerprint(HANDLE state) {
    CRYPT_PROVIDER_DATA* const provider = WinTrust().WTHelperProvDataFromStateData(state);
    if (provider == nullptr) return {};
    CRYPT_PROVIDER_SGNR* const signer = WinTrust().WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) return {};
    const CERT_CONTEXT* const certificate = signer->pasCertChain[0].pCert;
    if (certificate == nullptr) return {};
    BYTE hash[64] = {};
    DWORD hashSize = sizeof hash;
    if (!Crypt32().CryptHashCertificate2(L"SHA256", 0, nullptr, certificate->pbCertEncoded,
                               certificate->cbCertEncoded, hash, &hashSize)) {
        return {};
    }
    return ToLowerHex({hash, hashSize});
}

}  // namespace

void VerifyPublisherSignature(const std::wstring& path, const json::JsonObject& config) {
    bool listed = false;
    {
        const TrustVerification verification(path);
        if (verification.result() == 0) {
            const std::wstring fingerprint = SignerFingerprint(verification.state());
            if (!fingerprint.empty()) {
                // Every entry is read, so a malformed list fails even after a match.
                const json::JsonArray signers = config.GetNamedArray(L"windowsSignerSHA256");
                for (std::size_t i = 0; i < signers.Size(); ++i) {
                    if (signers.GetStringAt(i) == fingerprint) listed = true;
                }
            }
        }
    }
    if (!listed) Fail("Application signature or publisher mismatch");
}

void VerifyPublisherSignature(const std::wstring& path) {
    VerifyPublisherSignature(path, InstallerConfig());
}

}  // namespace tavro::verify
