#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "authenticode.h"
#include "installer_check.h"
#include "json/json.h"
#include "load_config.h"
#include "pe_image.h"
#include "platform/text.h"
#include "release_channel.h"
#include "release_config.h"

namespace tavro::release {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// Offsets of a small PE32+ image: headers, one .rsrc section at file 0x200 (RVA 0x1000)
// holding a version resource with product version 1.4.2.7.
constexpr std::size_t kOptional = 0x58, kSections = kOptional + 0xF0, kRsrc = 0x200;
constexpr std::size_t kResourceEntry = kOptional + 112 + 2 * 8, kCertificateEntry = kOptional + 112 + 4 * 8;
constexpr std::size_t kDataEntry = kRsrc + 0x48, kVersionBlock = kRsrc + 0x58, kFixed = kVersionBlock + 40;

Bytes SyntheticPe(const Bytes& signature = {}) {
    Bytes b(0x400, 0);
    b[0] = 'M', b[1] = 'Z';
    Put32(b, 0x3C, 0x40);
    Put32(b, 0x40, 0x00004550);
    Put16(b, 0x44, 0x8664);
    Put16(b, 0x46, 1);
    Put16(b, 0x54, 0xF0);
    Put16(b, kOptional, 0x20B);
    Put32(b, kOptional + 60, 0x200);
    Put32(b, kOptional + 64, 0x12345678);
    Put32(b, kOptional + 108, 16);
    Put32(b, kResourceEntry, 0x1000);
    Put32(b, kResourceEntry + 4, 0x200);
    Put32(b, kSections + 8, 0x200);
    Put32(b, kSections + 12, 0x1000);
    Put32(b, kSections + 16, 0x200);
    Put32(b, kSections + 20, kRsrc);
    // Type 16 -> name 1 -> language 0x409 -> data entry.
    const std::uint32_t levels[][2] = {{0x00, 16}, {0x18, 1}, {0x30, 0x409}};
    const std::uint32_t targets[] = {0x80000018, 0x80000030, 0x48};
    for (int i = 0; i < 3; ++i) {
        Put16(b, kRsrc + levels[i][0] + 14, 1);
        Put32(b, kRsrc + levels[i][0] + 16, levels[i][1]);
        Put32(b, kRsrc + levels[i][0] + 20, targets[i]);
    }
    Put32(b, kDataEntry, 0x1000 + 0x58);
    Put32(b, kDataEntry + 4, 92);
    Put16(b, kVersionBlock, 92);
    Put16(b, kVersionBlock + 2, 52);
    const std::string key = "VS_VERSION_INFO";
    for (std::size_t i = 0; i < key.size(); ++i) Put16(b, kVersionBlock + 6 + 2 * i, key[i]);
    Put32(b, kFixed, 0xFEEF04BD);
    Put32(b, kFixed + 8, 0x00090009);  // file version 9.9: the product version must win
    Put32(b, kFixed + 16, 0x00010004);
    Put32(b, kFixed + 20, 0x00020007);
    if (!signature.empty()) {
        const std::size_t length = 8 + signature.size(), padded = (length + 7) / 8 * 8;
        b.resize(0x400 + padded, 0);
        Put32(b, 0x400, static_cast<std::uint32_t>(length));
        Put16(b, 0x404, 0x0200);
        Put16(b, 0x406, 0x0002);
        std::copy(signature.begin(), signature.end(), b.begin() + 0x408);
        Put32(b, kCertificateEntry, 0x400);
        Put32(b, kCertificateEntry + 4, static_cast<std::uint32_t>(padded));
    }
    return b;
}

std::string Outcome(const Bytes& file) {
    try {
        const PeImage image = ReadPeImage(file);
        return image.versionError.empty() ? ProductVersionText(image) : image.versionError;
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

TEST(PeImage, ReadsOrRefusesEveryShape) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string outcome;
    };
    const std::string bad = "Not a valid Windows executable: ";
    const Case cases[] = {
        {"intact: product version, not file version", [](Bytes&) {}, "1.4.2"},
        {"PE32: directories 16 bytes earlier",
         [](Bytes& b) {
             Put16(b, kOptional, 0x10B);
             Put32(b, kOptional + 92, 16);
             std::copy(b.begin() + kOptional + 112, b.begin() + kOptional + 240, b.begin() + kOptional + 96);
         },
         "1.4.2"},
        {"no MZ", [](Bytes& b) { b[0] = 'Z'; }, bad + "no MZ header"},
        {"PE offset past the end", [](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0); }, bad + "no PE signature"},
        {"unknown magic", [](Bytes& b) { Put16(b, kOptional, 0x107); }, bad + "unknown optional header magic"},
        {"four data directories", [](Bytes& b) { Put32(b, kOptional + 108, 4); }, bad + "no certificate table directory"},
        {"optional header past the end", [](Bytes& b) { Put16(b, 0x54, 0xFFFF); }, bad + "optional header outside the file"},
        {"65535 sections", [](Bytes& b) { Put16(b, 0x46, 0xFFFF); }, bad + "section table outside the file"},
        {"65535 resource entries", [](Bytes& b) { Put16(b, kRsrc + 14, 0xFFFF); }, bad + "resource entries outside their section"},
        {"subdirectory offset past the section", [](Bytes& b) { Put32(b, kRsrc + 20, 0x8000FFF0); }, bad + "resource directory outside its section"},
        {"leaf where a directory belongs", [](Bytes& b) { Put32(b, kRsrc + 20, 0x18); }, bad + "resource type without a directory"},
        {"data entry past the section", [](Bytes& b) { Put32(b, kRsrc + 0x30 + 20, 0x1F8); }, bad + "resource data entry outside its section"},
        {"data outside every section", [](Bytes& b) { Put32(b, kDataEntry, 0x9000); }, bad + "version resource outside the file"},
        {"data longer than its section", [](Bytes& b) { Put32(b, kDataEntry + 4, 0x7FFFFFFF); }, bad + "version resource outside the file"},
        {"no resource directory", [](Bytes& b) { Put32(b, kResourceEntry, 0); }, "Missing application version"},
        {"no version type", [](Bytes& b) { Put32(b, kRsrc + 16, 17); }, "Missing application version"},
        {"version named 2", [](Bytes& b) { Put32(b, kRsrc + 0x18 + 16, 2); }, "Missing application version"},
        {"fixed block of 51 bytes", [](Bytes& b) { Put16(b, kVersionBlock + 2, 51); }, "Invalid version information"},
        {"block shorter than its fixed part", [](Bytes& b) { Put16(b, kVersionBlock, 60); }, "Invalid version information"},
        {"key without its terminator", [](Bytes& b) { Put16(b, kVersionBlock, 20); }, "Invalid version information"},
        {"data of five bytes", [](Bytes& b) { Put32(b, kDataEntry + 4, 5); }, "Invalid version information"},
        {"largest components", [](Bytes& b) { Put32(b, kFixed + 16, 0xFFFFFFFF); Put32(b, kFixed + 20, 0xFFFF0000); }, "65535.65535.65535"},
        {"certificate table past the end", [](Bytes& b) { Put32(b, kCertificateEntry, 0x3F8); Put32(b, kCertificateEntry + 4, 16); }, bad + "certificate table outside the file"},
        {"certificate table in the headers", [](Bytes& b) { Put32(b, kCertificateEntry, 0x100); Put32(b, kCertificateEntry + 4, 8); }, bad + "certificate table inside the headers"},
        {"certificate table unaligned", [](Bytes& b) { Put32(b, kCertificateEntry, 0x3F4); Put32(b, kCertificateEntry + 4, 8); }, bad + "certificate table not aligned"},
        {"certificate longer than its table", [](Bytes& b) { Put32(b, kCertificateEntry, 0x3F0); Put32(b, kCertificateEntry + 4, 16); Put32(b, 0x3F0, 24); }, bad + "certificate entry longer than its table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = SyntheticPe();
        c.change(file);
        EXPECT_EQ(Outcome(file), c.outcome);
    }
}

TEST(PeImage, EveryTruncationIsRefusedInBounds) {
    // Every part of the image, the certificate table at its end included, is needed: a file
    // cut anywhere is refused as no valid executable, never read as a version or as one
    // without version information.
    const Bytes file = SyntheticPe(Bytes(13, 0x30));
    for (std::size_t size = 0; size <= file.size(); ++size) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
        const std::string outcome = Outcome(prefix);  // sanitizers catch any read outside
        if (size == file.size()) {
            EXPECT_EQ(outcome, "1.4.2");
        } else {
            EXPECT_EQ(outcome.rfind("Not a valid Windows executable: ", 0), 0u) << size << " bytes: " << outcome;
        }
    }
}

TEST(Authenticode, ImageDigestLeavesOutExactlyTheThreeFields) {
    const Bytes signedFile = SyntheticPe(Bytes(13, 0x30));
    const PeImage image = ReadPeImage(signedFile);
    EXPECT_EQ(image.primarySignature.offset, 0x408u);
    EXPECT_EQ(image.primarySignature.size, 13u);
    const std::vector<std::uint8_t> digest = ComputeImageDigest(signedFile, image, "SHA256");
    const std::size_t ignored[] = {kOptional + 64, kOptional + 67, kCertificateEntry, kCertificateEntry + 7, 0x400, 0x417};
    const std::size_t counted[] = {0, kOptional + 63, kOptional + 68, kCertificateEntry - 1, kCertificateEntry + 8, 0x3FF};
    for (const std::size_t at : ignored) {
        Bytes changed = signedFile;
        changed[at] ^= 0xFF;
        EXPECT_EQ(ComputeImageDigest(changed, image, "SHA256"), digest) << at;
    }
    for (const std::size_t at : counted) {
        Bytes changed = signedFile;
        changed[at] ^= 0xFF;
        EXPECT_NE(ComputeImageDigest(changed, image, "SHA256"), digest) << at;
    }
}

// A real signature whose SignedData names, as its digest, an algorithm that is no digest:
// no verification, and nothing leaked (OpenSSL 3.0's PKCS7_verify leaked its copy of a
// bare memory BIO here; the sanitizers of the native build report it at exit).
TEST(Authenticode, ADigestAlgorithmThatIsNoDigestIsNoVerification) {
    const std::string pki = std::string(std::getenv("TAVRO_SOURCE_DIR")) + "/tests/pki/";
    const std::string in = ::testing::TempDir() + "authenticode_in.exe", out = ::testing::TempDir() + "authenticode_out.exe";
    const Bytes unsignedFile = SyntheticPe();
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(unsignedFile.data()),
                                              static_cast<std::streamsize>(unsignedFile.size()));
    std::remove(out.c_str());
    const std::string sign = "osslsigncode sign -certs '" + pki + "demo-publisher-chain.pem' -key '" + pki +
                             "demo-publisher.TEST-KEY.pem' -h sha256 -n Tavro -in '" + in + "' -out '" + out + "' >/dev/null";
    ASSERT_EQ(std::system(sign.c_str()), 0);
    std::ifstream signedStream(out, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(signedStream)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(ReadAuthenticodeSignature(file, ReadPeImage(file)).signatureVerifies);

    // The first SHA-256 identifier of the signature is its digestAlgorithms entry;
    // id-aes256-wrap-pad (2.16.840.1.101.3.4.1.48) has the same length.
    const Bytes sha256 = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    const auto at = std::search(file.begin() + 0x400, file.end(), sha256.begin(), sha256.end());
    ASSERT_NE(at, file.end());
    at[9] = 0x01, at[10] = 0x30;
    EXPECT_FALSE(ReadAuthenticodeSignature(file, ReadPeImage(file)).signatureVerifies);
}

// SyntheticPe with a writable .data section holding the security cookie (RVA 0x2000,
// file 0x400) and a .loadcfg section holding the load configuration (RVA 0x3000, file 0x600).
constexpr std::size_t kCookie = 0x400, kLoadConfig = 0x600, kLoadConfigEntry = kOptional + 112 + 10 * 8;

Bytes LoadConfigPe() {
    Bytes b = SyntheticPe();
    b.resize(0x800, 0);
    Put16(b, 0x46, 3);
    Put32(b, kOptional + 28, 1);  // image base 0x100000000
    Put32(b, kOptional + 56, 0x4000);
    Put32(b, kOptional + 64, 0);
    const char* names[] = {".data", ".loadcfg"};
    const std::uint32_t flags[] = {0xC0000040, 0x40000040};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t at = kSections + 40 * (i + 1);
        std::memcpy(b.data() + at, names[i], std::strlen(names[i]));
        Put32(b, at + 8, 0x200);
        Put32(b, at + 12, static_cast<std::uint32_t>(0x2000 + 0x1000 * i));
        Put32(b, at + 16, 0x200);
        Put32(b, at + 20, static_cast<std::uint32_t>(kCookie + 0x200 * i));
        Put32(b, at + 36, flags[i]);
    }
    Put32(b, kCookie, 0x2DDFA232);
    Put32(b, kCookie + 4, 0x2B99);
    Put32(b, kLoadConfig, 0x118);
    Put16(b, kLoadConfig + 0x4E, kSearchSystem32Only);
    Put32(b, kLoadConfig + 0x58, 0x2000);
    Put32(b, kLoadConfig + 0x5C, 1);
    return b;
}

// What the post-link step makes of an image: "written" (and then, run again, nothing
// more), "unchanged", or its refusal.
std::string LoadConfigOutcome(Bytes& file) {
    try {
        if (!WriteLoadConfigDirectory(file)) return "unchanged";
        Bytes again = file;
        return !WriteLoadConfigDirectory(again) && again == file ? "written" : "written twice";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

TEST(LoadConfig, PostLinkStepWritesASoundDirectoryOnceOrRefuses) {
    Bytes file = LoadConfigPe();
    Put32(file, kOptional + 64, ComputePeChecksum(file, ReadPeImage(file)));  // as the linker writes it
    ASSERT_EQ(LoadConfigOutcome(file), "written");
    const PeImage image = ReadPeImage(file);
    const LoadConfiguration config = ReadLoadConfiguration(file, image);
    EXPECT_EQ(config.directory.rva, 0x3000u);
    EXPECT_EQ(config.directory.size, 0x118u);
    EXPECT_EQ(config.dependentLoadFlags, kSearchSystem32Only);
    EXPECT_EQ(config.securityCookie, 0x100002000u);
    Bytes stale = file;
    Put32(stale, kOptional + 64, 0);
    EXPECT_EQ(ComputePeChecksum(file, image), ComputePeChecksum(stale, image));
    EXPECT_NE(file, stale);  // the CheckSum was written again
    Put32(file, kLoadConfigEntry + 4, 0x40);
    EXPECT_EQ(LoadConfigurationFault(file, image, ReadLoadConfiguration(file, image)),
              "data directory 10 gives 64 bytes, the structure's Size 280: a 64-bit loader ignores such a load configuration");

    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string outcome;
    };
    const Case cases[] = {
        {"no CheckSum", [](Bytes&) {}, "written"},
        {"already in place", [](Bytes& b) { Put32(b, kLoadConfigEntry, 0x3000); Put32(b, kLoadConfigEntry + 4, 0x118); }, "unchanged"},
        {"CheckSum not the file's", [](Bytes& b) { Put32(b, kOptional + 64, 0x1234); },
         "the CheckSum 0x1234 is not the file's: the image changed after it was linked"},
        {"signed", [](Bytes& b) { b.resize(0x808); Put32(b, 0x800, 8); Put32(b, kCertificateEntry, 0x800); Put32(b, kCertificateEntry + 4, 8); },
         "the image is signed: its load configuration must be written before signing"},
        {"no .loadcfg section", [](Bytes& b) { b[kSections + 81] = 'x'; }, "no .loadcfg section: the load configuration was not linked in"},
        {"directory naming another", [](Bytes& b) { Put32(b, kLoadConfigEntry, 0x3008); Put32(b, kLoadConfigEntry + 4, 0x118); },
         "data directory 10 already names another load configuration"},
        {"structure larger than its section", [](Bytes& b) { Put32(b, kLoadConfig, 0x1000); }, "the structure's Size 4096 is larger than its section"},
        {"structure too short", [](Bytes& b) { Put32(b, kLoadConfig, 0x40); }, "the load configuration is too short to hold DependentLoadFlags"},
        {"cookie of another value", [](Bytes& b) { Put32(b, kCookie, 1); }, "the security cookie holds 0x2B9900000001, not the default 0x2B992DDFA232"},
        {"cookie in a read-only section", [](Bytes& b) { Put32(b, kSections + 40 + 36, 0x40000040); },
         "the security cookie lies in a section the loader cannot write"},
        {"cookie outside the image", [](Bytes& b) { Put32(b, kLoadConfig + 0x5C, 2); }, "the security cookie lies outside the image"},
        {"address outside the image", [](Bytes& b) { Put32(b, kLoadConfig + 0x28, 1); },
         "the load configuration's address at offset 0x28 lies outside the image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes changed = LoadConfigPe();
        c.change(changed);
        EXPECT_EQ(LoadConfigOutcome(changed), c.outcome);
    }
}

// "" when `check` accepts, else its refusal; a reader's " at byte N" left off.
std::string Refusal(const std::function<void()>& check) {
    try {
        check();
        return "";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        return what.substr(0, what.find(" at byte "));
    }
}

TEST(InstallerCheck, ManifestIsReadAsXmlWithNamespaces) {
    std::ifstream built(std::string(std::getenv("TAVRO_SOURCE_DIR")) + "/resources/installer.manifest");
    const std::string buildManifest((std::istreambuf_iterator<char>(built)), std::istreambuf_iterator<char>());
    ASSERT_NE(buildManifest.find("Common-Controls"), std::string::npos);
    const auto manifest = [](const std::string& inside) {
        return R"(<?xml version="1.0"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)" +
               inside + "</assembly>";
    };
    const auto trustInfo = [](const char* space, const std::string& inside) {
        return std::string(R"(<trustInfo xmlns="urn:schemas-microsoft-com:)") + space +
               R"("><security><requestedPrivileges>)" + inside + "</requestedPrivileges></security></trustInfo>";
    };
    const std::string invoker = trustInfo("asm.v3", R"(<requestedExecutionLevel level="asInvoker"/>)");
    const std::string admin = trustInfo("asm.v3", R"(<requestedExecutionLevel level="requireAdministrator"/>)");
    const auto dependency = [](const std::string& identity) {
        return "<dependency><dependentAssembly><assemblyIdentity type='win32' " + identity +
               "/></dependentAssembly></dependency>";
    };
    const std::string m = "the installer's manifest ", elevated = m + "asks for requireAdministrator, not asInvoker";
    const std::string malformed = m + "is not well-formed XML: ";
    const std::pair<std::string, std::string> cases[] = {
        {buildManifest, ""},
        {manifest(R"(<v3:trustInfo xmlns:v3="urn:schemas-microsoft-com:asm.v3"><v3:security><v3:requestedPrivileges>)"
                  R"(<v3:requestedExecutionLevel level='as&#73;nvoker'/></v3:requestedPrivileges></v3:security></v3:trustInfo>)"),
         ""},
        {manifest("<!--" + invoker + "-->" + admin), elevated},
        {manifest("<description><![CDATA[" + invoker + "]]></description>" + admin), elevated},
        {manifest(R"(<requestedExecutionLevel xmlns="urn:decoy" level="asInvoker"/>)" + admin), elevated},
        {manifest(R"(<requestedExecutionLevel level="asInvoker"/>)" + admin),
         m + "names 2 requestedExecutionLevel elements; Windows heeds one"},
        {manifest(trustInfo("asm.v2", R"(<requestedExecutionLevel level="asInvoker"/>)")),
         m + "names its requestedExecutionLevel outside the trustInfo of urn:schemas-microsoft-com:asm.v3"},
        {manifest("<description/>"), m + "names no requestedExecutionLevel"},
        {manifest(trustInfo("asm.v3", R"(<requestedExecutionLevel level="asInvoker" level="requireAdministrator"/>)")),
         malformed + "the attribute level repeated"},
        {"<!DOCTYPE assembly>" + manifest(invoker), malformed + "a document type or other declaration"},
        {manifest("<v3:trustInfo/>" + invoker), malformed + "the undeclared prefix v3"},
        {manifest(invoker + "<description>"), malformed + "an end tag that closes no open element"},
        {R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v3"/>)", m + "is no assembly of urn:schemas-microsoft-com:asm.v1"},
        {manifest(invoker + R"(<file name="helper.dll"/>)"),
         m + "names the file helper.dll, which Windows loads from beside the installer"},
        {manifest(invoker + dependency(R"(name="Tavro.Helpers" version="1.0.0.0")")),
         m + "depends on the private assembly Tavro.Helpers, which Windows looks for beside the installer"},
        {manifest(invoker + dependency(R"(name="Microsoft.Windows.Common-Controls" version="5.82.0.0" publicKeyToken="6595b64144ccf1df")")),
         m + "depends on the assembly Microsoft.Windows.Common-Controls 5.82.0.0, not Microsoft.Windows.Common-Controls "
             "6.0.0.0: Windows looks for one that WinSxS lacks beside the installer"},
    };
    for (const auto& [text, refusal] : cases) {
        EXPECT_EQ(Refusal([&] { CheckManifestText(text); }), refusal) << text;
    }
}

TEST(InstallerCheck, ComparesConfigurations) {
    const json::JsonObject expected = json::JsonObject::Parse(LR"({"a":"x","b":[1,2]})");
    const std::pair<const wchar_t*, const char*> configurations[] = {
        {LR"({"b":[1,2],"a":"x"})", ""},
        {LR"({"a":"x","b":[1,3]})", R"("b": the installer has [1,3], the configuration [1,2])"},
        {LR"({"b":[1,2]})", R"("a": the installer has none, the configuration "x")"},
        {LR"({"a":"x","b":[1,2],"c":1})", R"("c": the installer has 1, the configuration none)"},
    };
    for (const auto& [embedded, difference] : configurations) {
        EXPECT_EQ(ConfigurationDifference(json::JsonObject::Parse(embedded), expected), difference);
    }
}

// LoadConfigPe with its load configuration in place and a .text section (RVA 0x4000, file
// 0x800) as GNU ld links the installer: one load-time import, a delay-load descriptor that data
// directory 13 does not name, and a TLS directory with the runtime's three callbacks.
constexpr std::size_t kText = 0x800, kDelayName = kText + 0x80, kDelayAddresses = kText + 0xC0;
constexpr std::size_t kImportName = kText + 0x180, kCallbacks = kText + 0x240;
constexpr std::size_t kDelayEntry = kOptional + 112 + 13 * 8;
constexpr std::uint32_t kCode = 0x00004000;  // low half of the VA 0x100004000

void PutText(Bytes& b, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    b[at + text.size()] = 0;
}

Bytes LoadingPe() {
    Bytes b = LoadConfigPe();
    b.resize(0xB00, 0);
    Put16(b, 0x46, 4);
    Put32(b, kOptional + 56, 0x5000);
    Put32(b, kLoadConfigEntry, 0x3000);
    Put32(b, kLoadConfigEntry + 4, 0x118);
    const std::size_t header = kSections + 120;
    std::memcpy(b.data() + header, ".text", 5);
    Put32(b, header + 8, 0x300);
    Put32(b, header + 12, 0x4000);
    Put32(b, header + 16, 0x300);
    Put32(b, header + 20, kText);
    Put32(b, header + 36, 0x60000020);
    Put32(b, kOptional + 112 + 8, 0x4100);  // import directory
    Put32(b, kOptional + 112 + 12, 40);
    Put32(b, kText + 0x10C, 0x4180);
    Put32(b, kText + 0x110, 0x41A0);
    PutText(b, kImportName, "KERNEL32.dll");
    const std::uint32_t delay[] = {1, 0x4080, 0x2010, 0x40C0, 0x40D0};  // attributes, name, module, IAT, INT
    for (std::size_t i = 0; i < 5; ++i) Put32(b, kText + 0x40 + 4 * i, delay[i]);
    PutText(b, kDelayName, "gdiplus.dll");
    Put32(b, kDelayAddresses, kCode);
    Put32(b, kDelayAddresses + 4, 1);
    Put32(b, kText + 0xD0, 0x40E0);
    Put32(b, kOptional + 112 + 9 * 8, 0x4200);  // TLS directory
    Put32(b, kOptional + 112 + 9 * 8 + 4, 40);
    Put32(b, kText + 0x218, 0x4240);
    Put32(b, kText + 0x21C, 1);
    for (std::size_t i = 0; i < 3; ++i) {
        Put32(b, kCallbacks + 8 * i, kCode);
        Put32(b, kCallbacks + 8 * i + 4, 1);
    }
    return b;
}

TEST(InstallerCheck, RefusesDllsFromBesideTheProgram) {
    const std::string dllFrom = "; only DLLs loaded from System32 at start may be: gdiplus.dll";
    struct Case {
        const char* name;
        std::function<void(Bytes&)> change;
        std::string outcome;  // imports | delay imports | TLS callbacks, or the refusal
    };
    const Case cases[] = {
        {"as GNU ld links it", [](Bytes&) {}, "kernel32.dll | gdiplus.dll | 3"},
        {"directory 13 naming the same descriptor",
         [](Bytes& b) { Put32(b, kDelayEntry, 0x4040); Put32(b, kDelayEntry + 4, 64); }, "kernel32.dll | gdiplus.dll | 3"},
        {"another delay load", [](Bytes& b) { PutText(b, kDelayName, "version.dll"); },
         "the installer delay-loads version.dll" + dllFrom},
        {"another delay load only directory 13 names",
         [](Bytes& b) {
             PutText(b, kDelayName, "version.dll");
             Put32(b, kDelayAddresses, 0);  // no thunk: not a descriptor the search takes
             Put32(b, kDelayEntry, 0x4040);
             Put32(b, kDelayEntry + 4, 64);
         },
         "the installer delay-loads version.dll" + dllFrom},
        {"gdiplus at load time", [](Bytes& b) { PutText(b, kImportName, "gdiplus.dll"); },
         "the installer imports gdiplus.dll at load time; only known DLLs may be: advapi32.dll, gdi32.dll, "
         "kernel32.dll, msvcrt.dll, ole32.dll, shell32.dll, shlwapi.dll, user32.dll"},
        {"sections whose addresses overlap", [](Bytes& b) { Put32(b, kSections + 12, 0x2100); },
         "Not a valid Windows executable: sections whose addresses overlap"},
        {"a fourth TLS callback", [](Bytes& b) { Put32(b, kCallbacks + 24, kCode); Put32(b, kCallbacks + 28, 1); },
         "the installer has 4 TLS callbacks, which run before the DLL search is narrowed; only the runtime's 3 may"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = LoadingPe();
        c.change(file);
        InstallerVerdict verdict;
        const std::string refusal = Refusal([&] { CheckImageLoading(file, ReadPeImage(file), verdict); });
        const auto joined = [](const std::vector<std::string>& names) {
            std::string text;
            for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
            return text;
        };
        EXPECT_EQ(refusal.empty() ? joined(verdict.imports) + " | " + joined(verdict.delayImports) + " | " +
                                        std::to_string(verdict.tlsCallbacks)
                                  : refusal,
                  c.outcome);
    }
}

TEST(InstallerCheck, FindsConfigurationsInOnePass) {
    // A read-only section after the .rsrc of SyntheticPe: hostile runs around two configurations.
    const std::string first = R"({"channelURL":"a"})", second = R"({"x":{"y":1},"channelURL":"b"})";
    std::string data = "junk" + first + '\0';
    for (int i = 0; i < (1 << 21); ++i) data += "{\"";
    data += '\0';
    for (int i = 0; i < 200; ++i) data += "{\"a\":" + std::string(1000, '[') + std::string(1000, ']') + "}" + '\0';
    data += "\x01" + second + '\0';
    Bytes file = SyntheticPe();
    Put16(file, 0x46, 2);
    const std::size_t header = kSections + 40;
    Put32(file, header + 8, static_cast<std::uint32_t>(data.size()));
    Put32(file, header + 12, 0x2000);
    Put32(file, header + 16, static_cast<std::uint32_t>(data.size()));
    Put32(file, header + 20, static_cast<std::uint32_t>(file.size()));
    Put32(file, header + 36, 0x40000040);
    file.insert(file.end(), data.begin(), data.end());
    const PeImage image = ReadPeImage(file);

    EXPECT_EQ(FindEmbeddedConfigurations(file, image), (std::vector<std::string>{first, second}));
    // The work bound: one candidate a run, none overlapping, so every byte is parsed at most once.
    const std::vector<FileRange> candidates = ConfigurationCandidates(file, image);
    EXPECT_EQ(candidates.size(), 202u);
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        EXPECT_GE(candidates[i].offset, candidates[i - 1].offset + candidates[i - 1].size);
    }
}

json::JsonObject DemoConfig() {
    return json::JsonObject::Parse(
        L"{\"channelURL\":\"https://localhost/desktop/win/latest.yml\",\"offlineURL\":\"https://127.0.0.1/\","
        L"\"allowedHosts\":[\"localhost\",\"127.0.0.1\"],\"windowsSignerSHA256\":[\"" +
        std::wstring(64, L'a') + L"\"]}");
}

std::string FeedRefusal(const Bytes& file, const std::string& name, const std::string& url = "") {
    ReleaseFeedFile feed;
    try {
        WriteReleaseFeed(file, name, url, "2026-12-08T00:00:00.000Z", DemoConfig(), feed);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "written";
}

// The signed cases run against the demo product in release_channel_test.sh; these are the
// refusals that need no signature, in the order the checks meet them.
TEST(ReleaseChannel, RefusesBeforeWritingAnything) {
    Bytes noVersion = SyntheticPe();
    Put32(noVersion, kResourceEntry, 0);
    struct Case {
        const char* name;
        Bytes file;
        std::string fileName, url, refusal;
    };
    const Case cases[] = {
        {"not a PE", Bytes(100, 0), "Tavro-Setup-1.4.2.exe", "", "Not a valid Windows executable: no MZ header"},
        {"no version resource", noVersion, "Tavro-Setup-1.4.2.exe", "",
         "Missing application version: Tavro-Setup-1.4.2.exe has no usable version resource"},
        {"other name", SyntheticPe(), "setup.exe", "", "Artifact version mismatch: setup.exe is not named Tavro-Setup-<version>.exe"},
        {"name of another version", SyntheticPe(), "Tavro-Setup-1.4.3.exe", "",
         "Artifact version mismatch: the file name says 1.4.3, the package's version resource says 1.4.2"},
        {"foreign host", SyntheticPe(), "Tavro-Setup-1.4.2.exe", "https://example.com/Tavro-Setup-1.4.2.exe", "Untrusted download host"},
        {"URL naming another file", SyntheticPe(), "Tavro-Setup-1.4.2.exe", "https://localhost/x.exe", "Artifact version mismatch"},
        {"unsigned", SyntheticPe(), "Tavro-Setup-1.4.2.exe", "",
         "Application signature or publisher mismatch: the file carries no Authenticode signature"},
        {"signature that is not PKCS#7", SyntheticPe(Bytes(40, 0x30)), "Tavro-Setup-1.4.2.exe", "",
         "Application signature or publisher mismatch: the signature is not a PKCS#7 signed-data structure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FeedRefusal(c.file, c.fileName, c.url), c.refusal);
    }
}

TEST(ReleaseChannel, CheckGivesTheInstallersVerdict) {
    const std::string feed = "version: 1.0.0\nfiles:\n  - url: Tavro-Setup-1.0.0.exe\n    sha512: " +
                             EncodeBase64(Sha512(Bytes{'x'})) + "\n    size: 1\n";
    const FeedVerdict accepted = CheckReleaseFeed(feed, DemoConfig());
    EXPECT_EQ(accepted.error, "");
    EXPECT_EQ(accepted.url, "https://localhost/desktop/win/Tavro-Setup-1.0.0.exe");
    EXPECT_EQ(accepted.version + "/" + std::to_string(accepted.size), "1.0.0/1");
    // The configuration's own URLs are checked first, as the installer does at start.
    json::JsonObject offlineElsewhere = DemoConfig();
    offlineElsewhere.SetNamedValue(L"offlineURL", json::JsonValue::CreateStringValue(L"https://example.com/"));
    EXPECT_EQ(CheckReleaseFeed(feed, offlineElsewhere).error, "Untrusted download host");
    EXPECT_EQ(CheckReleaseFeed("", DemoConfig()).error, "Missing release version or files");
}

TEST(ReleaseConfig, WritesTheMembersInOrderAndChecksTheUrls) {
    const std::string pki = std::string(std::getenv("TAVRO_SOURCE_DIR")) + "/tests/pki/";
    const std::string demo = "11e02b38cd31ec5398dfae2c893cb9b27985c1edd1e0043f072689a5f7ef2ad8";
    EXPECT_EQ(CertificateFileSha256(pki + "demo-publisher.pem"), demo);
    EXPECT_EQ(CertificateFileSha256(pki + "demo-publisher-chain.pem"), demo);  // the leaf comes first
    EXPECT_THROW(CertificateFileSha256(pki + "README.md"), std::runtime_error);

    ConfigRequest request{"1.0.1", "https://localhost/desktop/win/latest.yml", "https://127.0.0.1/", {},
                          "TAVRO0DEMO", "com.example.tavro.demo", {demo}};
    EXPECT_EQ(BuildInstallerConfig(request),
              "{\n  \"installerVersion\": \"1.0.1\",\n  \"channelURL\": \"https://localhost/desktop/win/latest.yml\",\n"
              "  \"offlineURL\": \"https://127.0.0.1/\",\n  \"allowedHosts\": [\"localhost\", \"127.0.0.1\"],\n"
              "  \"macTeamID\": \"TAVRO0DEMO\",\n  \"bundleID\": \"com.example.tavro.demo\",\n"
              "  \"windowsSignerSHA256\": [\"" + demo + "\"]\n}\n");

    struct Case {
        const char* name;
        std::function<void(ConfigRequest&)> change;
        std::string result;  // the allowedHosts line, or the refusal
    };
    const Case cases[] = {
        {"one host for both", [](ConfigRequest& r) { r.offlineUrl = "https://localhost/help"; }, "[\"localhost\"]"},
        {"hosts given", [](ConfigRequest& r) { r.allowedHosts = {"127.0.0.1", "localhost"}; }, "[\"127.0.0.1\", \"localhost\"]"},
        {"offline host not given", [](ConfigRequest& r) { r.allowedHosts = {"localhost"}; },
         "Untrusted download host: offlineURL https://127.0.0.1/ (allowedHosts [\"localhost\"])"},
        {"plain HTTP channel", [](ConfigRequest& r) { r.channelUrl = "http://localhost/latest.yml"; },
         "Untrusted download URL: channelURL http://localhost/latest.yml (allowedHosts [\"localhost\", \"127.0.0.1\"])"},
        {"relative offline page", [](ConfigRequest& r) { r.offlineUrl = "help.html"; },
         "Invalid download URL: offlineURL help.html (allowedHosts [\"localhost\"])"},
        {"no signer", [](ConfigRequest& r) { r.signerFingerprints.clear(); }, "at least one signer certificate is needed"},
        {"upper-case fingerprint", [](ConfigRequest& r) { r.signerFingerprints = {std::string(64, 'A')}; },
         "not a SHA-256 fingerprint: " + std::string(64, 'A')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigRequest changed = request;
        c.change(changed);
        std::string result;
        try {
            const std::string text = BuildInstallerConfig(changed);
            const std::size_t at = text.find("\"allowedHosts\": ") + 16;
            result = text.substr(at, text.find(",\n", at) - at);
        } catch (const std::runtime_error& e) {
            result = e.what();
        }
        EXPECT_EQ(result, c.result);
    }
}

}  // namespace
}  // namespace tavro::release
