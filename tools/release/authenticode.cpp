#include "authenticode.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <stdexcept>

#include "platform/text.h"
#include "shared/lower_hex.h"

namespace tavro::release {

namespace {

constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";

template <class T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const noexcept { Free(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;
using X509SigPtr = std::unique_ptr<X509_SIG, Deleter<X509_SIG, X509_SIG_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using AsnObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;

[[noreturn]] void Mismatch(const std::string& why) {
    throw std::runtime_error("Application signature or publisher mismatch: " + why);
}

std::vector<std::uint8_t> Digest(const EVP_MD* md, std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, md, nullptr) != 1) {
        throw std::runtime_error("OpenSSL digest failed");
    }
    out.resize(length);
    return out;
}

// The TLV at p: returns the content's start and sets its length; nothing on a
// malformed or indefinite-length encoding.
const unsigned char* Content(const unsigned char* p, long available, long& length) {
    int tag = 0, cls = 0;
    const unsigned char* q = p;
    const int flags = ASN1_get_object(&q, &length, &tag, &cls, available);
    if ((flags & 0x80) || flags == 0x21) return nullptr;  // error, or indefinite length
    return q;
}

}  // namespace

std::string LowerHex(std::span<const std::uint8_t> bytes) {
    return WideToUtf8(ToLowerHex(bytes));
}

std::vector<std::uint8_t> Sha512(std::span<const std::uint8_t> bytes) {
    return Digest(EVP_sha512(), bytes);
}

std::string EncodeBase64(std::span<const std::uint8_t> bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                       static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::vector<std::uint8_t> ComputeImageDigest(std::span<const std::uint8_t> file, const PeImage& image,
                                             const std::string& digestName) {
    const EVP_MD* md = EVP_get_digestbyname(digestName.c_str());
    if (md == nullptr) Mismatch("unsupported image digest algorithm " + digestName);
    std::array<FileRange, 3> skipped = {image.checksum, image.certificateEntry, image.certificateTable};
    std::sort(skipped.begin(), skipped.end(), [](const FileRange& a, const FileRange& b) { return a.offset < b.offset; });

    const MdCtxPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1) throw std::runtime_error("OpenSSL digest failed");
    std::size_t at = 0;
    for (const FileRange& range : skipped) {
        if (range.size == 0) continue;
        // The reader guarantees each range lies in the file; overlapping ones would be a
        // file no signer produces, and are hashed as their union being left out.
        if (range.offset > at) EVP_DigestUpdate(context.get(), file.data() + at, range.offset - at);
        at = std::max(at, range.offset + range.size);
    }
    if (at < file.size()) EVP_DigestUpdate(context.get(), file.data() + at, file.size() - at);
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), out.data(), &length) != 1) throw std::runtime_error("OpenSSL digest failed");
    out.resize(length);
    return out;
}

AuthenticodeSignature ReadAuthenticodeSignature(std::span<const std::uint8_t> file, const PeImage& image) {
    if (image.primarySignature.size == 0) Mismatch("the file carries no Authenticode signature");
    if (image.primarySignature.size > LONG_MAX) Mismatch("the signature is too large");
    const unsigned char* der = file.data() + image.primarySignature.offset;
    // WIN_CERTIFICATE pads its content to eight bytes: d2i stops at the end of the DER.
    const Pkcs7Ptr p7(d2i_PKCS7(nullptr, &der, static_cast<long>(image.primarySignature.size)));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr || p7->d.sign->contents == nullptr) {
        Mismatch("the signature is not a PKCS#7 signed-data structure");
    }

    // The signed content is an SpcIndirectDataContent: SEQUENCE { data, DigestInfo }.
    PKCS7* contents = p7->d.sign->contents;
    const AsnObjectPtr indirectData(OBJ_txt2obj(kSpcIndirectDataOid, 1));
    if (contents->type == nullptr || OBJ_cmp(contents->type, indirectData.get()) != 0 || contents->d.other == nullptr ||
        contents->d.other->type != V_ASN1_SEQUENCE || contents->d.other->value.sequence == nullptr) {
        Mismatch("the signature does not sign a PE image digest");
    }
    const ASN1_STRING* sequence = contents->d.other->value.sequence;
    const unsigned char* start = sequence->data;
    long contentLength = 0;
    const unsigned char* content = Content(start, sequence->length, contentLength);
    if (content == nullptr) Mismatch("the signed content does not parse");
    long dataLength = 0;
    const unsigned char* data = Content(content, contentLength, dataLength);
    if (data == nullptr) Mismatch("the signed content does not parse");
    if (contentLength > INT_MAX) Mismatch("the signed content is too large");
    const unsigned char* digestInfo = data + dataLength;
    const long digestInfoAvailable = static_cast<long>(content + contentLength - digestInfo);
    const X509SigPtr sig(d2i_X509_SIG(nullptr, &digestInfo, digestInfoAvailable));
    if (!sig) Mismatch("the signed content holds no image digest");
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_get0(sig.get(), &algorithm, &digest);
    const ASN1_OBJECT* algorithmObject = nullptr;
    X509_ALGOR_get0(&algorithmObject, nullptr, nullptr, algorithm);

    AuthenticodeSignature result;
    const int nid = OBJ_obj2nid(algorithmObject);
    if (nid == NID_undef || EVP_get_digestbynid(nid) == nullptr) Mismatch("unsupported image digest algorithm");
    result.digestName = OBJ_nid2sn(nid);
    result.signedDigest.assign(ASN1_STRING_get0_data(digest), ASN1_STRING_get0_data(digest) + ASN1_STRING_length(digest));
    result.imageDigest = ComputeImageDigest(file, image, result.digestName);

    // The signer signs the content without its outer tag and length.
    // Behind a pass-through filter: OpenSSL 3.0's PKCS7_verify copies a bare memory BIO into
    // one of its own and leaks that copy when the signature names a digest it cannot set up.
    const BioPtr signedBytes(BIO_new(BIO_f_null()));
    BIO* memory = signedBytes ? BIO_new_mem_buf(content, static_cast<int>(contentLength)) : nullptr;
    if (memory != nullptr) BIO_push(signedBytes.get(), memory);
    result.signatureVerifies =
        memory != nullptr && PKCS7_verify(p7.get(), nullptr, nullptr, signedBytes.get(), nullptr, PKCS7_NOVERIFY) == 1;

    STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
    X509* signer = signers != nullptr && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
    if (signer != nullptr) {
        unsigned char* certificate = nullptr;
        const int length = i2d_X509(signer, &certificate);
        if (length > 0) {
            result.signerSha256 = LowerHex(Digest(EVP_sha256(), {certificate, static_cast<std::size_t>(length)}));
        }
        OPENSSL_free(certificate);
    }
    sk_X509_free(signers);
    if (result.signerSha256.empty()) Mismatch("the signature names no signer certificate");
    return result;
}

std::string CertificateFileSha256(const std::string& path) {
    const BioPtr bio(BIO_new_file(path.c_str(), "rb"));
    if (!bio) throw std::runtime_error("cannot read certificate " + path);
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) {
        BIO_reset(bio.get());
        certificate.reset(d2i_X509_bio(bio.get(), nullptr));
    }
    if (!certificate) throw std::runtime_error("no certificate in " + path);
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    if (length <= 0) throw std::runtime_error("cannot encode certificate " + path);
    const std::string fingerprint = LowerHex(Digest(EVP_sha256(), {der, static_cast<std::size_t>(length)}));
    OPENSSL_free(der);
    return fingerprint;
}

}  // namespace tavro::release
