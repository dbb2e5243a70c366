#include "cache/file_digest.h"

#include <wincrypt.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/crypt_handles.h"
#include "platform/errors.h"
#include "shared/lower_hex.h"

namespace tavro::cache {

namespace {

// One buffer of this size streams a package of any length in constant memory.
constexpr DWORD kChunkSize = 65536;
constexpr DWORD kSha512Size = 64;

}  // namespace

std::wstring HashFileSha512(HANDLE file) {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) Fail("Cannot seek cache");

    HCRYPTPROV rawProvider = 0;
    if (!CryptAcquireContextW(&rawProvider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        Fail("Cannot initialize file hash");
    }
    const UniqueCryptProvider provider(rawProvider);

    // Declared after the provider, so it is destroyed first on every path.
    HCRYPTHASH rawHash = 0;
    if (!CryptCreateHash(provider.get(), CALG_SHA_512, 0, 0, &rawHash)) Fail("Cannot create hash");
    const UniqueCryptHash hash(rawHash);

    std::vector<BYTE> buffer(kChunkSize);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), kChunkSize, &read, nullptr)) Fail("Cannot read cache");
        if (read == 0) break;
        if (!CryptHashData(hash.get(), buffer.data(), read, 0)) Fail("Cannot hash cache");
    }

    std::array<std::uint8_t, kSha512Size> digest{};
    DWORD length = kSha512Size;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest.data(), &length, 0)) {
        Fail("Cannot finalize hash");
    }
    return ToLowerHex(digest);
}

}  // namespace tavro::cache
