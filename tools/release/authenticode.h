#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pe_image.h"

namespace tavro::release {

// The primary Authenticode signature of a PE file, taken apart.
struct AuthenticodeSignature {
    std::string digestName;                    // the image digest's algorithm, e.g. "SHA256"
    std::vector<std::uint8_t> signedDigest;    // the image digest that the signature carries
    std::vector<std::uint8_t> imageDigest;     // the same digest computed over this file
    bool signatureVerifies = false;            // the signer's signature over the signed content holds
    std::string signerSha256;                  // SHA-256 of the signer certificate's DER, lower-case hex
};

// The Authenticode image digest: every byte of the file except the CheckSum field,
// the certificate table's directory entry and the certificate table itself.
// digestName is an OpenSSL digest name ("SHA256", "SHA1", ...).
std::vector<std::uint8_t> ComputeImageDigest(std::span<const std::uint8_t> file, const PeImage& image,
                                             const std::string& digestName);

// Reads the primary signature of the file (the first certificate table entry) and
// checks it with OpenSSL: its digest against the file, and the signer's signature over
// the signed content. The certificate chain is not checked against any root here; the
// fingerprint list is what names the publisher. Throws a runtime error starting with
// "Application signature or publisher mismatch" when the file has no signature or one
// that does not parse.
AuthenticodeSignature ReadAuthenticodeSignature(std::span<const std::uint8_t> file, const PeImage& image);

// SHA-256 of the first certificate in a PEM (or DER) file, lower-case hex; throws when
// the file holds no certificate.
std::string CertificateFileSha256(const std::string& path);

// SHA-512 of the bytes.
std::vector<std::uint8_t> Sha512(std::span<const std::uint8_t> bytes);

// Standard Base64 with "=" padding, one line.
std::string EncodeBase64(std::span<const std::uint8_t> bytes);

// Lower-case hex text of the bytes.
std::string LowerHex(std::span<const std::uint8_t> bytes);

}  // namespace tavro::release
