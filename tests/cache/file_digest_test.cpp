#include "cache/file_digest.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_handles.h"
#include "support/error_of.h"

// Digests of real files through the platform's CryptoAPI, checked against what sha512sum
// gives for the same bytes.

namespace tavro::cache {
namespace {

using Bytes = std::vector<std::uint8_t>;

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

class FileDigestTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
        dir_ = std::filesystem::path(temp) /
               (L"tavro_digest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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

TEST_F(FileDigestTest, KnownVectors) {
    for (const KnownVector& vector : KnownVectors()) {
        const UniqueFile file = Open(Write(vector.content), GENERIC_READ);
        EXPECT_EQ(HashFileSha512(file.get()), vector.digest) << vector.name;
    }
}

TEST_F(FileDigestTest, PseudoRandomContent) {
    // Sizes around the padding block and the read buffer and its multiples, and a few MiB
    // with a ragged end; each with its own seed.
    const struct {
        std::size_t size;
        const wchar_t* digest;  // sha512sum of PseudoRandom(size, seed)
    } cases[] = {
        {1, L"527cff2b6fdfbc0f54fe092b17d6d8c7e22500242635fa56981e85a64da6ce8a12a3a66cf69fd48f588bcba9bad141b8e351a0cdd4925ae57289933eec1fc153"},
        {111, L"330576963e30a043725ad732902c6ca8d7b4a408d7b47b76425e7309808280d6788f3d8ebc580a9fc142d85dae04c2ae334a0520e0e500542120c7f35c6482fb"},
        {112, L"c7f4b1bd724baaebdc42fe837c82159e3bf61a9ef67700e47ae6da12902fd4f14c8c09e9bc437b16deec5b1dd0ce9100c90d67a38c43c311c4dc2cf55feb900c"},
        {128, L"cf89872e9bb46f8d07dc811e5fb4db33c5a558480e5cac5bd17990f00c12c9e57f6c9a19f016decc614e872fd8f83316a94337cf9b19d9099b8aee772939db96"},
        {65535, L"f9f152a126801e6687078fb94df844a5b689519d5e5e9d216efcfb833f47bf5ce547662a213699b33b6935bb0f2faf6790437042a8a160d3f9ccf4c8eb45e367"},
        {131072, L"185e3347e2429be639f329a00c6c64120ff393491ac8e33b6866db542844dbacea28507a8cd34ecad52ef479e8baaffe808fddc5f9070ccdc85d08c289b34fe8"},
        {131073, L"9ea45bb48db51a446c5d263a7a93d67459b93c63239bf8bd9ca4e299e843df972845f4029f1ef1021f533cf138cf4f2bdf3e77ed4679692be46529bd04abb4cf"},
        {3145805, L"f811b6b7a320a18b766242169189072fea39cf2f149710d5a4a6a67d37e781e61a51d833c00458406d9698d9187795710c20d48cb4768fcd08af5439dc410c31"},
    };
    std::uint64_t seed = 0x9e3779b97f4a7c15;
    for (const auto& c : cases) {
        const UniqueFile file = Open(Write(PseudoRandom(c.size, seed++)), GENERIC_READ);
        EXPECT_EQ(HashFileSha512(file.get()), c.digest) << c.size << " bytes";
    }
}

TEST_F(FileDigestTest, StartsFromByteZeroAndLeavesPointerAtEnd) {
    const Bytes content = PseudoRandom(200000, 7);
    const std::wstring expected =
        L"729d5b2abe2c7ab299b8cf6b2fe7aeebfb6ee82dc17368d30ce2c849dad232df623443e0f3956410445f8a83c51fe3fc6c10ba32c56716b3f23756090258a23c";
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
    EXPECT_EQ(HashFileSha512(file.get()),
              L"91f22e5c346a4171acd4247f371645d85e9f1a5ebea46f417424c12a582fe3ec14fa269cec8f856884231acbc14874bbbd9e4d5da1d2e2f45a2a3b4609c06b74");
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
        EXPECT_EQ(testing::ErrorOf([&] { HashFileSha512(c.handle); }), c.message) << c.name;
    }
}

}  // namespace
}  // namespace tavro::cache
