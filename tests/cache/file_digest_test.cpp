#include "cache/file_digest.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_handles.h"

// Digests of real files through the platform's CryptoAPI, checked against sha512sum
// constants and against a small portable SHA-512 written here from the published
// algorithm, so that neither side vouches for itself.

namespace tavro::cache {
namespace {

using Bytes = std::vector<std::uint8_t>;

// FIPS 180-4 SHA-512, byte-oriented and slow; only for checking.
class ReferenceSha512 {
public:
    static std::wstring Hex(const Bytes& data) {
        std::array<std::uint64_t, 8> h = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                          0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                          0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
        Bytes message = data;
        message.push_back(0x80);
        while (message.size() % 128 != 112) message.push_back(0);
        const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
        for (int i = 0; i < 8; ++i) message.push_back(0);  // high 64 bits of the length
        for (int i = 7; i >= 0; --i) message.push_back(static_cast<std::uint8_t>(bits >> (i * 8)));
        for (std::size_t block = 0; block < message.size(); block += 128) {
            Compress(h, &message[block]);
        }
        std::wstring text;
        for (const std::uint64_t word : h) {
            wchar_t part[17];
            std::swprintf(part, 17, L"%016llx", static_cast<unsigned long long>(word));
            text += part;
        }
        return text;
    }

private:
    static std::uint64_t Rotr(std::uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

    static void Compress(std::array<std::uint64_t, 8>& h, const std::uint8_t* block) {
        static constexpr std::uint64_t k[80] = {
            0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
            0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
            0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
            0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
            0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
            0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
            0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
            0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
            0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
            0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
            0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
            0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
            0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
            0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
            0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
            0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
            0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
            0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
            0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
            0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};
        std::uint64_t w[80];
        for (int t = 0; t < 16; ++t) {
            w[t] = 0;
            for (int b = 0; b < 8; ++b) w[t] = (w[t] << 8) | block[t * 8 + b];
        }
        for (int t = 16; t < 80; ++t) {
            const std::uint64_t s0 = Rotr(w[t - 15], 1) ^ Rotr(w[t - 15], 8) ^ (w[t - 15] >> 7);
            const std::uint64_t s1 = Rotr(w[t - 2], 19) ^ Rotr(w[t - 2], 61) ^ (w[t - 2] >> 6);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::array<std::uint64_t, 8> v = h;
        for (int t = 0; t < 80; ++t) {
            const std::uint64_t e = v[4];
            const std::uint64_t a = v[0];
            const std::uint64_t t1 = v[7] + (Rotr(e, 14) ^ Rotr(e, 18) ^ Rotr(e, 41)) +
                                     ((e & v[5]) ^ (~e & v[6])) + k[t] + w[t];
            const std::uint64_t t2 =
                (Rotr(a, 28) ^ Rotr(a, 34) ^ Rotr(a, 39)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
            v = {t1 + t2, a, v[1], v[2], v[3] + t1, e, v[5], v[6]};
        }
        for (int i = 0; i < 8; ++i) h[i] += v[i];
    }
};

Bytes Repeated(char c, std::size_t count) { return Bytes(count, static_cast<std::uint8_t>(c)); }

Bytes PseudoRandom(std::size_t count, std::uint64_t seed) {
    Bytes data(count);
    std::uint64_t state = seed;
    for (auto& byte : data) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return data;
}

struct KnownVector {
    const char* name;
    Bytes content;
    const wchar_t* digest;  // sha512sum of the same bytes
};

std::vector<KnownVector> KnownVectors() {
    return {
        {"empty", {},
         L"cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
         L"47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
        {"abc", Bytes{'a', 'b', 'c'},
         L"ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         L"2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        // Exactly one read buffer, then one byte into a second read.
        {"65536 x a", Repeated('a', 65536),
         L"3d7f4d370531902d128619b9b9fb424b598b5fb11e92f44654e8bb754deed22c"
         L"6cd5587482bd5d3bf506b05818848931a1e5627a542ba6aa4b7a27e003355291"},
        {"65537 x a", Repeated('a', 65537),
         L"8773a2d46ac7638f2fc6886c592ac41496c46ca6f8fd2a01fa7d71fb53d50f14"
         L"4f7bc2059c551b5825b1bcd7f7de01c00f599ca4d17b200cea3be2e6576a96aa"},
        {"1000000 x a", Repeated('a', 1000000),
         L"e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
         L"de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
}

class FileDigestTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
        dir_ = std::filesystem::path(temp) /
               (L"tavro_digest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                Utf8ToWide(testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::wstring Write(const Bytes& content) {
        const std::wstring path = (dir_ / (L"f" + std::to_wstring(++count_))).wstring();
        UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw std::runtime_error("cannot create test file");
        DWORD written = 0;
        if (!content.empty() &&
            (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                        nullptr) ||
             written != content.size())) {
            throw std::runtime_error("cannot write test file");
        }
        return path;
    }

    static UniqueFile Open(const std::wstring& path, DWORD access) {
        UniqueFile file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw std::runtime_error("cannot open test file");
        return file;
    }

    static std::int64_t Position(HANDLE file) {
        LARGE_INTEGER zero{};
        LARGE_INTEGER position{};
        if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT)) return -1;
        return position.QuadPart;
    }

    static void MoveTo(HANDLE file, std::int64_t offset) {
        LARGE_INTEGER target{};
        target.QuadPart = offset;
        if (!SetFilePointerEx(file, target, nullptr, FILE_BEGIN)) {
            throw std::runtime_error("cannot move file pointer");
        }
    }

    std::filesystem::path dir_;
    int count_ = 0;
};

// Message of the runtime error the call throws; "" when it returns.
std::string FailureOf(HANDLE file) {
    try {
        HashFileSha512(file);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

TEST_F(FileDigestTest, ReferenceMatchesKnownVectors) {
    for (const KnownVector& vector : KnownVectors()) {
        EXPECT_EQ(ReferenceSha512::Hex(vector.content), vector.digest) << vector.name;
    }
}

TEST_F(FileDigestTest, KnownVectors) {
    for (const KnownVector& vector : KnownVectors()) {
        const UniqueFile file = Open(Write(vector.content), GENERIC_READ);
        EXPECT_EQ(HashFileSha512(file.get()), vector.digest) << vector.name;
    }
}

TEST_F(FileDigestTest, PseudoRandomContentAgainstReference) {
    // Sizes around the read buffer and its multiples, and a few MiB with a ragged end.
    const std::size_t sizes[] = {1, 111, 112, 128, 65535, 65536 * 2, 65536 * 2 + 1,
                                 3 * 1024 * 1024 + 77};
    std::uint64_t seed = 0x9e3779b97f4a7c15;
    for (const std::size_t size : sizes) {
        const Bytes content = PseudoRandom(size, seed++);
        const UniqueFile file = Open(Write(content), GENERIC_READ);
        const std::wstring digest = HashFileSha512(file.get());
        EXPECT_EQ(digest, ReferenceSha512::Hex(content)) << size << " bytes";
        EXPECT_EQ(digest.size(), 128u);
    }
}

TEST_F(FileDigestTest, StartsFromByteZeroAndLeavesPointerAtEnd) {
    const Bytes content = PseudoRandom(200000, 7);
    const std::wstring expected = ReferenceSha512::Hex(content);
    const UniqueFile file = Open(Write(content), GENERIC_READ);

    const std::int64_t before[] = {0, 1, 65536, 199999, 200000, 5000000};
    for (const std::int64_t offset : before) {
        MoveTo(file.get(), offset);
        EXPECT_EQ(HashFileSha512(file.get()), expected) << "pointer at " << offset;
        EXPECT_EQ(Position(file.get()), 200000) << "pointer at " << offset;
    }
}

TEST_F(FileDigestTest, ContentWrittenThroughTheSameHandleIsHashedWhole) {
    // A caller that has just written the file hands over a pointer at its end.
    const std::wstring path = Write({});
    const UniqueFile file = Open(path, GENERIC_READ | GENERIC_WRITE);
    const Bytes content = PseudoRandom(70000, 11);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                          nullptr));
    ASSERT_EQ(Position(file.get()), 70000);
    EXPECT_EQ(HashFileSha512(file.get()), ReferenceSha512::Hex(content));
}

TEST_F(FileDigestTest, UnreadableHandlesFailWithTheirMessages) {
    const std::wstring path = Write(Repeated('x', 1000));
    const UniqueFile writeOnly = Open(path, GENERIC_WRITE);
    const UniqueFile attributesOnly = Open(path, FILE_READ_ATTRIBUTES);
    const UniqueFile directory(CreateFileW(dir_.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(directory);
    const UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);

    struct Case {
        const char* name;
        HANDLE handle;
        const char* message;
    };
    const Case cases[] = {
        {"write-only file", writeOnly.get(), "Cannot read cache"},
        {"attributes-only file", attributesOnly.get(), "Cannot read cache"},
        {"directory", directory.get(), "Cannot read cache"},
        {"event", event.get(), "Cannot seek cache"},
        {"null handle", nullptr, "Cannot seek cache"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FailureOf(c.handle), c.message) << c.name;
    }
}

}  // namespace
}  // namespace tavro::cache
