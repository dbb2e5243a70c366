#include "cache/payload_cache.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cache/file_digest.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "support/error_of.h"
#include "support/files.h"
#include "support/local_app_data_override.h"

// Every test runs against the real file system of the Wine prefix, with LocalAppData
// pointed at a folder of its own (see tests/support/local_app_data_override.h).

namespace tavro::cache {
namespace {

using testing::ErrorOf;
using testing::Exists;
using testing::LocalAppDataOverride;
using testing::MakeUnixSymlink;
using testing::ReadFileBytes;
using testing::RunningUnderWine;
using testing::SetLastWriteAge;
using testing::WriteFileBytes;

constexpr long long kDay = 86400;
constexpr long long kSevenDays = 7 * kDay;
constexpr long long kMargin = 300;

// SHA-512 of "abc".
constexpr wchar_t kAbcDigest[] =
    L"ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
    L"2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";

bool IsReparsePoint(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Lower-case hex text of the given length; the seed makes different names.
std::wstring HexName(std::size_t length, unsigned seed) {
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    for (std::size_t i = 0; i < length; ++i) text += kDigits[(i * 7 + seed) % 16];
    return text;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'f') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

int CountEvents(const std::wstring& cacheDirectory, const std::string& name) {
    const std::vector<std::string> events = testing::ReadJournal(cacheDirectory);
    return static_cast<int>(std::count(events.begin(), events.end(), name));
}

std::vector<BYTE> CurrentUserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) throw std::runtime_error("no token");
    const UniqueKernelHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) throw std::runtime_error("no user");
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    const auto* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

std::wstring SidText(const std::vector<BYTE>& sid) {
    PWSTR text = nullptr;
    if (!ConvertSidToStringSidW(const_cast<BYTE*>(sid.data()), &text)) throw std::runtime_error("no SID text");
    const UniqueLocalMemory owner(text);
    return text;
}

struct AceReport {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::vector<BYTE> sid;
};

// The DACL of a path as GetNamedSecurityInfoW reports it.
struct DaclReport {
    bool isProtected = false;
    std::vector<AceReport> aces;
    std::wstring sddl;
};

DaclReport DescribeDacl(PSECURITY_DESCRIPTOR raw) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted)) throw std::runtime_error("no DACL");
    DaclReport report;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(raw, &control, &revision)) throw std::runtime_error("no control bits");
    report.isProtected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) throw std::runtime_error("GetAce failed");
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        AceReport entry{header->AceType, header->AceFlags, 0, {}};
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            entry.mask = allowed->Mask;
            const auto* sid = reinterpret_cast<const BYTE*>(&allowed->SidStart);
            entry.sid.assign(sid, sid + GetLengthSid(const_cast<BYTE*>(sid)));
        }
        report.aces.push_back(entry);
    }
    PWSTR text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(raw, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr)) {
        const UniqueLocalMemory owner(text);
        report.sddl = text;
    }
    return report;
}

DaclReport ReadDacl(const std::wstring& path) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                              nullptr, nullptr, nullptr, &raw);
    if (error != ERROR_SUCCESS) throw std::runtime_error("GetNamedSecurityInfoW failed");
    const UniqueLocalMemory descriptor(raw);
    return DescribeDacl(raw);
}

bool IsProtectedSingleAllowAce(const DaclReport& report, const std::vector<BYTE>& sid) {
    return report.isProtected && report.aces.size() == 1 && report.aces[0].type == ACCESS_ALLOWED_ACE_TYPE &&
           report.aces[0].flags == 0 && report.aces[0].mask == FILE_ALL_ACCESS && report.aces[0].sid == sid;
}

class PayloadCacheTest : public ::testing::Test {
protected:
    void SetUp() override { override_.emplace(); }
    void TearDown() override { override_.reset(); }

    const LocalAppDataOverride& Folder() const { return *override_; }

private:
    std::optional<LocalAppDataOverride> override_;
};

// ---- OpenPayloadCache ----

TEST_F(PayloadCacheTest, CreatesTheCacheUnderLocalAppDataAndReturnsTheSamePathAgain) {
    ASSERT_FALSE(Exists(Folder().CacheDirectory()));
    const std::wstring path = OpenPayloadCache();
    EXPECT_EQ(path, Folder().CacheDirectory());
    const DWORD attributes = GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(OpenPayloadCache(), path);
}

TEST_F(PayloadCacheTest, DirectoryIsCreatedWithAProtectedDaclWithOneAceForTheUser) {
    // What the creation asks for, checked here because Wine does not keep it (below).
    const UniqueLocalMemory descriptor = CacheDirectorySecurity();
    const DaclReport report = DescribeDacl(descriptor.get());
    EXPECT_TRUE(IsProtectedSingleAllowAce(report, CurrentUserSid())) << WideToUtf8(report.sddl);
}

TEST_F(PayloadCacheTest, CreatedDirectoryHasAProtectedDaclWithOneAceForTheUser) {
    const std::wstring path = OpenPayloadCache();
    const std::vector<BYTE> user = CurrentUserSid();

    // Whether this system keeps the security descriptor a directory is created with at
    // all: a control directory made here with the very same SDDL must read back as given.
    const std::wstring control = Folder().Root() + L"\\control";
    const std::wstring sddl = L"D:P(A;;FA;;;" + SidText(user) + L")";
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &raw, nullptr));
    const UniqueLocalMemory descriptor(raw);
    SECURITY_ATTRIBUTES security{sizeof security, raw, FALSE};
    ASSERT_TRUE(CreateDirectoryW(control.c_str(), &security));
    const DaclReport controlReport = ReadDacl(control);
    if (!IsProtectedSingleAllowAce(controlReport, user)) {
        GTEST_SKIP() << "This Wine does not keep the DACL a directory is created with: a directory created with "
                     << WideToUtf8(sddl) << " reads back as " << WideToUtf8(controlReport.sddl)
                     << " (Wine derives it from the Unix mode bits). The cache directory reads back as "
                     << WideToUtf8(ReadDacl(path).sddl)
                     << ". Its protected single-ACE DACL can only be checked on Windows.";
    }

    const DaclReport report = ReadDacl(path);
    EXPECT_TRUE(report.isProtected) << WideToUtf8(report.sddl);
    ASSERT_EQ(report.aces.size(), 1u) << WideToUtf8(report.sddl);
    EXPECT_EQ(report.aces[0].type, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(report.aces[0].flags, 0);
    EXPECT_EQ(report.aces[0].mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(report.aces[0].sid, user);
}

TEST_F(PayloadCacheTest, ExistingDirectoryIsAcceptedUnchanged) {
    const std::wstring path = Folder().CacheDirectory();
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    WriteFileBytes(path + L"\\session.lock", "");
    WriteFileBytes(path + L"\\events.jsonl", "earlier\r\n");
    const std::wstring before = ReadDacl(path).sddl;

    EXPECT_EQ(OpenPayloadCache(), path);

    EXPECT_EQ(ReadDacl(path).sddl, before);
    EXPECT_TRUE(Exists(path + L"\\session.lock"));
    EXPECT_EQ(ReadFileBytes(path + L"\\events.jsonl"), "earlier\r\n");
}

TEST_F(PayloadCacheTest, ReparsePointInPlaceOfTheDirectoryIsUnsafe) {
    if (!RunningUnderWine()) GTEST_SKIP() << "the reparse point is made as a Unix link, which needs Wine";
    const std::wstring elsewhere = Folder().Root() + L"\\elsewhere";
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    MakeUnixSymlink(elsewhere, Folder().CacheDirectory());
    ASSERT_TRUE(IsReparsePoint(Folder().CacheDirectory()));

    EXPECT_EQ(ErrorOf([] { OpenPayloadCache(); }), "Unsafe cache directory");
    EXPECT_EQ(ErrorOf([] { OpenPayloadCache(); }), "Unsafe cache directory");
    EXPECT_TRUE(IsReparsePoint(Folder().CacheDirectory()));
}

TEST(PayloadCacheWithoutLocalAppData, FailsToLocateTheCacheAndCreatesNothing) {
    const LocalAppDataOverride missing(false);
    ASSERT_FALSE(Exists(missing.LocalAppData()));
    EXPECT_EQ(ErrorOf([] { OpenPayloadCache(); }), "Cannot locate cache");
    EXPECT_FALSE(Exists(missing.LocalAppData()));
}

// ---- PrunePayloadCache ----

TEST(PrunableCacheName, MatchesOnlyWholePackageAndValidatorNames) {
    const std::wstring hex64 = HexName(64, 1);
    const std::wstring hex128 = HexName(128, 2);
    const struct {
        std::wstring name;
        bool prunable;
    } cases[] = {
        {hex64 + L".exe", true},
        {hex128 + L".exe", true},
        {hex64 + L".exe.etag", true},
        {hex128 + L".exe.etag", true},
        {std::wstring(128, L'0') + L".exe", true},
        {std::wstring(64, L'f') + L".exe.etag", true},
        {Upper(hex128) + L".exe", false},
        {hex128.substr(0, 127) + L"A.exe", false},
        {hex64.substr(0, 63) + L".exe", false},
        {hex64 + L"0.exe", false},
        {hex128.substr(0, 127) + L".exe", false},
        {hex128 + L"0.exe", false},
        {hex64 + hex64.substr(0, 32) + L".exe", false},
        {hex128 + L".EXE", false},
        {hex128 + L".exe.etag.old", false},
        {hex128 + L".exe.etag.etag", false},
        {hex128 + L".exe ", false},
        {L" " + hex128 + L".exe", false},
        {L"x" + hex64 + L".exe", false},
        {hex128 + L".etag", false},
        {hex128, false},
        {hex128 + L".ex", false},
        {hex128 + L"xexe", false},
        {hex64.substr(0, 63) + L"g.exe", false},
        {L".exe", false},
        {L"", false},
        {L"session.lock", false},
        {L"events.jsonl", false},
        {L"receipts", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPrunableCacheName(c.name), c.prunable) << WideToUtf8(c.name);
    }
}

TEST_F(PayloadCacheTest, PruneRemovesOnlyStalePackageFiles) {
    const std::wstring cache = OpenPayloadCache();
    const struct {
        std::wstring name;
        long long ageSeconds;
        bool kept;
    } files[] = {
        {HexName(64, 1) + L".exe", kSevenDays + kMargin, false},
        {HexName(128, 2) + L".exe", kSevenDays + kMargin, false},
        {HexName(64, 3) + L".exe.etag", kSevenDays + kMargin, false},
        {HexName(128, 4) + L".exe.etag", 30 * kDay, false},
        {HexName(128, 5) + L".exe", kSevenDays - kMargin, true},
        {HexName(128, 5) + L".exe.etag", kSevenDays - kMargin, true},
        {HexName(128, 6) + L".exe", 0, true},
        {HexName(64, 7) + L".exe", -kDay, true},
        {Upper(HexName(128, 8)) + L".exe", 30 * kDay, true},
        {Upper(HexName(64, 9)) + L".exe.etag", 30 * kDay, true},
        {HexName(63, 10) + L".exe", 30 * kDay, true},
        {HexName(65, 11) + L".exe", 30 * kDay, true},
        {HexName(127, 12) + L".exe", 30 * kDay, true},
        {HexName(128, 13) + L".exe.etag.old", 30 * kDay, true},
        {HexName(128, 14) + L".etag", 30 * kDay, true},
        {L"x" + HexName(64, 15) + L".exe", 30 * kDay, true},
        {L"session.lock", 30 * kDay, true},
        {L"events.jsonl", 30 * kDay, true},
    };
    for (const auto& f : files) {
        WriteFileBytes(cache + L"\\" + f.name, "data");
        SetLastWriteAge(cache + L"\\" + f.name, f.ageSeconds);
    }
    const std::wstring receipts = cache + L"\\receipts";
    const std::wstring inReceipts = receipts + L"\\" + HexName(128, 16) + L".exe";
    ASSERT_TRUE(CreateDirectoryW(receipts.c_str(), nullptr));
    WriteFileBytes(inReceipts, "request");
    SetLastWriteAge(inReceipts, 30 * kDay);
    SetLastWriteAge(receipts, 30 * kDay);

    PrunePayloadCache(cache);

    for (const auto& f : files) {
        EXPECT_EQ(Exists(cache + L"\\" + f.name), f.kept) << WideToUtf8(f.name) << " aged " << f.ageSeconds << " s";
    }
    EXPECT_TRUE(Exists(receipts));
    EXPECT_TRUE(Exists(inReceipts));
}

TEST_F(PayloadCacheTest, PruneLeavesAStaleReparsePointAndItsTargetAlone) {
    if (!RunningUnderWine()) GTEST_SKIP() << "the reparse point is made as a Unix link, which needs Wine";
    const std::wstring cache = OpenPayloadCache();
    // An empty directory would be removed through the link if the link were not skipped.
    const std::wstring target = Folder().Root() + L"\\target";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    SetLastWriteAge(target, 30 * kDay);
    const std::wstring link = cache + L"\\" + HexName(128, 17) + L".exe";
    MakeUnixSymlink(target, link);
    ASSERT_TRUE(IsReparsePoint(link));

    PrunePayloadCache(cache);

    EXPECT_TRUE(IsReparsePoint(link));
    EXPECT_TRUE(Exists(target));
}

TEST_F(PayloadCacheTest, PruneOfAMissingDirectoryFailsWithTheListingOperation) {
    try {
        PrunePayloadCache(Folder().Root() + L"\\missing");
        ADD_FAILURE() << "no failure";
    } catch (const FileSystemError& error) {
        EXPECT_NE(std::string(error.what()).find("directory_iterator::directory_iterator"), std::string::npos)
            << error.what();
    }
}

// ---- package files ----

TEST(PackageFileNames, AreTheDigestWithExeAndTheValidatorAddsEtag) {
    const std::wstring name = PackageFileName(kAbcDigest);
    EXPECT_EQ(name, std::wstring(kAbcDigest) + L".exe");
    EXPECT_EQ(name.size(), 132u);
    EXPECT_EQ(ValidatorFileName(name), std::wstring(kAbcDigest) + L".exe.etag");
    EXPECT_EQ(ValidatorFileName(name).size(), 137u);
    EXPECT_EQ(ValidatorFileName(L"C:\\cache\\" + name), L"C:\\cache\\" + name + L".etag");
}

TEST_F(PayloadCacheTest, OpenCreatesThePackageSharedForReadingOnly) {
    const std::wstring cache = OpenPayloadCache();
    const CachedPackage package = OpenCachedPackage(cache, kAbcDigest);
    EXPECT_EQ(package.path, cache + L"\\" + PackageFileName(kAbcDigest));
    EXPECT_TRUE(package.file);
    EXPECT_EQ(package.size, 0u);
    EXPECT_TRUE(Exists(package.path));

    const UniqueFile reader(CreateFileW(package.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader);
    const UniqueFile writer(CreateFileW(package.path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(PayloadCacheTest, OpenReportsTheSizeOfAnExistingPackage) {
    const std::wstring cache = OpenPayloadCache();
    WriteFileBytes(cache + L"\\" + PackageFileName(kAbcDigest), "partial");
    const CachedPackage package = OpenCachedPackage(cache, kAbcDigest);
    EXPECT_EQ(package.size, 7u);
}

TEST_F(PayloadCacheTest, OpenRefusesAReparsePointAndFailsOnADirectory) {
    if (!RunningUnderWine()) GTEST_SKIP() << "the reparse point is made as a Unix link, which needs Wine";
    const std::wstring cache = OpenPayloadCache();
    const std::wstring target = Folder().Root() + L"\\target";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    MakeUnixSymlink(target, cache + L"\\" + PackageFileName(kAbcDigest));
    ASSERT_TRUE(IsReparsePoint(cache + L"\\" + PackageFileName(kAbcDigest)));
    EXPECT_EQ(ErrorOf([&] { OpenCachedPackage(cache, kAbcDigest); }), "Unsafe cache file");

    // A plain directory under the same kind of name is no reparse point: the open fails.
    const std::wstring other = HexName(128, 18);
    ASSERT_TRUE(CreateDirectoryW((cache + L"\\" + PackageFileName(other)).c_str(), nullptr));
    EXPECT_EQ(ErrorOf([&] { OpenCachedPackage(cache, other); }), "Cannot open cached package");
}

TEST_F(PayloadCacheTest, ReuseTakesOnlyACompleteMatchingFileReadOnlyAndResetKeepsOnlyAShorterPrefix) {
    const std::wstring cache = OpenPayloadCache();
    const std::wstring path = cache + L"\\" + PackageFileName(kAbcDigest);
    const struct {
        const char* label;
        std::optional<std::string> content;
        bool reusable;
        const char* afterReset;
    } cases[] = {
        {"complete, matching digest", "abc", true, nullptr},
        {"same size, wrong digest", "abd", false, ""},
        {"larger", "abcdef", false, ""},
        {"shorter", "ab", false, "ab"},
        {"empty", "", false, ""},
        {"absent", std::nullopt, false, ""},
    };
    constexpr std::uint64_t kExpectedSize = 3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        DeleteFileW(path.c_str());
        DeleteFileW((cache + L"\\events.jsonl").c_str());
        if (c.content) WriteFileBytes(path, *c.content);
        {
            // Held as by a program started from it: readers admitted, writers refused.
            const UniqueFile running(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
            EXPECT_EQ(static_cast<bool>(OpenCompletePackage(cache, kAbcDigest, kExpectedSize)), c.reusable);
            if (running) {
                EXPECT_EQ(ErrorOf([&] { OpenCachedPackage(cache, kAbcDigest); }), "Cannot open cached package");
            }
        }

        CachedPackage package = OpenCachedPackage(cache, kAbcDigest);
        EXPECT_EQ(package.size, c.content ? c.content->size() : 0u);
        EXPECT_EQ(IsReusablePackage(package, kExpectedSize, kAbcDigest), c.reusable);
        if (c.reusable) {
            EXPECT_EQ(ReadFileBytes(path), *c.content);
            continue;
        }
        ResetPackageForDownload(package, kExpectedSize);
        EXPECT_EQ(ReadFileBytes(path), c.afterReset);
        EXPECT_EQ(package.size, std::string(c.afterReset).size());
        EXPECT_EQ(CountEvents(cache, "payload_started"), 1);
    }
}

TEST_F(PayloadCacheTest, ResetFailsWhenTheFileCannotBeTruncated) {
    const std::wstring cache = OpenPayloadCache();
    const std::wstring path = cache + L"\\" + PackageFileName(kAbcDigest);
    WriteFileBytes(path, "abcdef");
    CachedPackage package;
    package.path = path;
    package.file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    package.size = 6;
    ASSERT_TRUE(package.file);
    EXPECT_EQ(ErrorOf([&] { ResetPackageForDownload(package, 3); }), "Cannot reset cache");
    EXPECT_EQ(ReadFileBytes(path), "abcdef");
}

TEST_F(PayloadCacheTest, ReadValidatorTakesTheFirstLine) {
    const std::wstring path = OpenPayloadCache() + L"\\" + ValidatorFileName(PackageFileName(kAbcDigest));
    const struct {
        const char* label;
        std::optional<std::string> content;
        std::wstring expected;
    } cases[] = {
        {"missing", std::nullopt, L""},
        {"empty", "", L""},
        {"one tag", "\"v1-abc\"", L"\"v1-abc\""},
        {"first line only", "\"first\"\n\"second\"\n", L"\"first\""},
        {"leading line feed", "\nlater", L""},
        // Read in text mode: a CR LF line end is a line end.
        {"CR LF", "W/\"weak\"\r\nrest", L"W/\"weak\""},
        {"UTF-8", "\"caf\xC3\xA9\"", L"\"caf\u00e9\""},
        {"64 KiB, the most that is read", std::string(65536, 'v'), std::wstring(65536, L'v')},
        // A tag cut short never matches the server's, so a resume with it starts over.
        {"longer: its first 64 KiB", std::string(65537, 'w'), std::wstring(65536, L'w')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        DeleteFileW(path.c_str());
        if (c.content) WriteFileBytes(path, *c.content);
        const std::wstring read = ReadValidator(path);
        EXPECT_EQ(read.size(), c.expected.size());
        EXPECT_TRUE(read == c.expected) << WideToUtf8(read.substr(0, 80));
    }
}

TEST_F(PayloadCacheTest, WriteValidatorReplacesTheFileWithTheTagAndNoLineEnd) {
    const std::wstring path = OpenPayloadCache() + L"\\" + ValidatorFileName(PackageFileName(kAbcDigest));
    const struct {
        std::wstring tag;
        std::string bytes;
    } cases[] = {
        {L"\"0123456789abcdef-longer-than-the-next\"", "\"0123456789abcdef-longer-than-the-next\""},
        {L"\"v2\"", "\"v2\""},
        {L"W/\"caf\u00e9\"", "W/\"caf\xC3\xA9\""},
        {L"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.tag));
        WriteValidator(path, c.tag);
        EXPECT_EQ(ReadFileBytes(path), c.bytes);
        EXPECT_EQ(ReadValidator(path), c.tag);
    }
}

TEST_F(PayloadCacheTest, LockReopensReadOnlyAndRefusesASecondWriter) {
    const std::wstring cache = OpenPayloadCache();
    CachedPackage package = OpenCachedPackage(cache, kAbcDigest);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(package.file.get(), "abc", 3, &written, nullptr));

    const UniqueFile locked = LockVerifiedPackage(package);
    ASSERT_TRUE(locked);
    EXPECT_FALSE(package.file);
    EXPECT_EQ(HashFileSha512(locked.get()), kAbcDigest);
    EXPECT_FALSE(WriteFile(locked.get(), "x", 1, &written, nullptr));

    const UniqueFile writer(CreateFileW(package.path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(package.path.c_str()));
    const UniqueFile reader(CreateFileW(package.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(reader);
    EXPECT_EQ(ReadFileBytes(package.path), "abc");
}

TEST_F(PayloadCacheTest, LockFailsWhenItCannotFlushOrReopen) {
    const std::wstring cache = OpenPayloadCache();
    const std::wstring path = cache + L"\\" + PackageFileName(kAbcDigest);
    WriteFileBytes(path, "abc");

    CachedPackage readOnly;
    readOnly.path = path;
    readOnly.file.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(readOnly.file);
    EXPECT_EQ(ErrorOf([&] { LockVerifiedPackage(readOnly); }), "Cannot persist verified package");
    readOnly.file.reset();

    CachedPackage vanished = OpenCachedPackage(cache, kAbcDigest);
    vanished.path = cache + L"\\" + PackageFileName(HexName(128, 19));
    EXPECT_EQ(ErrorOf([&] { LockVerifiedPackage(vanished); }), "Cannot lock verified package");
    EXPECT_FALSE(vanished.file);
    EXPECT_FALSE(Exists(vanished.path));
}

// The demo setup of a version, from the build: a file whose version resource can be read.
std::string DemoSetup(const std::string& version) {
    const char* build = std::getenv("TAVRO_BUILD_DIR");
    if (build == nullptr) return {};
    return ReadFileBytes(L"Z:" + Utf8ToWide(build) + L"/demo/" + Utf8ToWide(version) + L"/Tavro-Setup-" +
                         Utf8ToWide(version) + L".exe");
}

TEST_F(PayloadCacheTest, CleanUpAfterAnInstallKeepsOnlyANewerPackage) {
    const std::wstring cache = OpenPayloadCache();
    const std::string v100 = DemoSetup("1.0.0");
    const std::string v110 = DemoSetup("1.1.0");
    ASSERT_FALSE(v100.empty() || v110.empty()) << "TAVRO_BUILD_DIR names no build with the demo product";
    const struct {
        std::wstring name;
        std::string content;
        bool kept;
    } files[] = {
        {HexName(128, 1) + L".exe", v100, false},  // the installed version
        {HexName(128, 1) + L".exe.etag", "\"a\"", false},
        {HexName(64, 2) + L".exe", v110, true},  // an update that may still be installed
        {HexName(64, 2) + L".exe.etag", "\"b\"", true},
        {HexName(128, 3) + L".exe", v110.substr(0, 4096), false},  // partial: no version to read
        {HexName(128, 4) + L".exe.etag", "\"c\"", false},          // no package beside it
        {Upper(HexName(128, 5)) + L".exe", v100, true},
    };
    for (const auto& f : files) WriteFileBytes(cache + L"\\" + f.name, f.content);
    // Neither removed nor followed: a link to a folder, where the clean-up would find a package.
    const std::wstring target = Folder().Root() + L"\\target";
    const std::wstring link = cache + L"\\" + HexName(128, 6) + L".exe";
    const bool withLink = RunningUnderWine();
    if (withLink) {
        ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
        WriteFileBytes(target + L"\\" + HexName(128, 7) + L".exe", v100);
        MakeUnixSymlink(target, link);
    }

    CleanUpInstalledPackages(cache, L"1.0.0");
    for (const auto& f : files) EXPECT_EQ(Exists(cache + L"\\" + f.name), f.kept) << WideToUtf8(f.name);
    EXPECT_TRUE(!withLink || (IsReparsePoint(link) && Exists(target + L"\\" + HexName(128, 7) + L".exe")));
    EXPECT_EQ(CountEvents(cache, "payload_cache_removed"), 1);

    // Nothing more to remove: nothing journaled. A package that cannot go is deferred, and
    // its validator goes all the same.
    CleanUpInstalledPackages(cache, L"1.0.0");
    EXPECT_EQ(CountEvents(cache, "payload_cache_removed"), 1);
    const std::wstring held = cache + L"\\" + HexName(128, 8) + L".exe";
    WriteFileBytes(held, v100);
    WriteFileBytes(ValidatorFileName(held), "\"d\"");
    const UniqueFile holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    CleanUpInstalledPackages(cache, L"1.0.0");
    EXPECT_EQ(CountEvents(cache, "payload_cache_cleanup_deferred"), 1);
    EXPECT_TRUE(Exists(held));
    EXPECT_FALSE(Exists(ValidatorFileName(held)));
}

}  // namespace
}  // namespace tavro::cache
