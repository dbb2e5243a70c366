#include "verify/publisher_signature.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "json/json.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "scratch_folder.h"
#include "shared/installer_config.h"
#include "verify_wine_fixtures.h"

// The demo product's files, signed with the test PKI (tests/pki), checked by the real
// WinVerifyTrust of Wine. This Wine does not enforce the root of the chain: a signature
// from a certificate authority that no trust store holds is reported as trusted, and
// revocation is not checked. So an untrusted root and a revoked or unverifiable chain
// can only be checked on real Windows; these tests do not pretend to cover them. Here the
// publishers are told apart by the fingerprint list alone, as they are on Windows once
// the chain is trusted.

namespace tavro::verify {
namespace {

constexpr char kMismatch[] = "Application signature or publisher mismatch";
constexpr char kPasses[] = "passes";

std::string PlatformErrorText(Hresult code) {
    char text[40];
    std::snprintf(text, sizeof text, "PlatformError 0x%08X", static_cast<unsigned>(code));
    return text;
}

// What one call does: "passes", the runtime error's message, or the HRESULT of a
// PlatformError as "PlatformError 0x........".
std::string OutcomeOf(const std::wstring& path, const json::JsonObject& config) {
    try {
        VerifyPublisherSignature(path, config);
        return kPasses;
    } catch (const PlatformError& error) {
        return PlatformErrorText(error.code());
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

std::string OutcomeOf(const std::wstring& path) {
    try {
        VerifyPublisherSignature(path);
        return kPasses;
    } catch (const std::exception& error) {
        return error.what();
    }
}

// A configuration whose "windowsSignerSHA256" member is the given JSON text.
json::JsonObject SignerConfig(const std::wstring& signers) {
    return json::JsonObject::Parse(L"{\"installerVersion\":\"1.0.1\",\"windowsSignerSHA256\":" + signers + L"}");
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

// Puts the embedded configuration back however a test ends.
struct EmbeddedConfigRestorer {
    ~EmbeddedConfigRestorer() { LoadInstallerConfig(); }
};

TEST(VerifyPublisherSignature, JudgesFileAndFingerprintList) {
    const std::wstring demo = kDemoPublisherFingerprint;
    const std::wstring other = kOtherPublisherFingerprint;
    const std::wstring demoOnly = L"[" + Quoted(demo) + L"]";
    struct Case {
        const char* name;
        std::wstring path;
        std::wstring signers;
        std::string outcome;
    };
    const Case cases[] = {
        {"signed app", kSignedApp, demoOnly, kPasses},
        {"signed setup", kSignedSetup, demoOnly, kPasses},
        {"signed installer", kSignedInstaller, demoOnly, kPasses},
        {"signed app through a backslash path", testing::BackslashPath(kSignedApp), demoOnly, kPasses},
        {"unsigned app", kUnsignedApp, demoOnly, kMismatch},
        {"unsigned setup", kUnsignedSetup, demoOnly, kMismatch},
        {"other publisher's app", kOtherPublisherApp, demoOnly, kMismatch},
        {"other publisher's setup", kOtherPublisherSetup, demoOnly, kMismatch},
        {"tampered app", kTamperedApp, demoOnly, kMismatch},
        {"tampered setup", kTamperedSetup, demoOnly, kMismatch},
        // The fingerprint comes from the file: the other publisher passes where it is listed.
        {"other publisher's app, other listed", kOtherPublisherApp, L"[" + Quoted(other) + L"]", kPasses},
        {"signed app, only other listed", kSignedApp, L"[" + Quoted(other) + L"]", kMismatch},
        {"tampered app, both listed", kTamperedApp, L"[" + Quoted(demo) + L"," + Quoted(other) + L"]", kMismatch},
        {"unsigned app, both listed", kUnsignedApp, L"[" + Quoted(demo) + L"," + Quoted(other) + L"]", kMismatch},
        {"empty list", kSignedApp, L"[]", kMismatch},
        {"upper-case entry", kSignedApp, L"[" + Quoted(Upper(demo)) + L"]", kMismatch},
        {"entry with a trailing blank", kSignedApp, L"[" + Quoted(demo + L" ") + L"]", kMismatch},
        {"entry one digit short", kSignedApp, L"[" + Quoted(demo.substr(0, 63)) + L"]", kMismatch},
        {"empty entry", kSignedApp, L"[\"\"]", kMismatch},
        {"wrong entry, then the right one", kSignedApp, L"[" + Quoted(other) + L"," + Quoted(demo) + L"]", kPasses},
        {"right entry, then a wrong one", kSignedApp, L"[" + Quoted(demo) + L"," + Quoted(other) + L"]", kPasses},
        // Only the primary signature counts; a nested one neither helps nor harms.
        {"demo primary, other nested, demo listed", kDemoThenOtherApp, demoOnly, kPasses},
        {"demo primary, other nested, other listed", kDemoThenOtherApp, L"[" + Quoted(other) + L"]", kMismatch},
        {"other primary, demo nested, demo listed", kOtherThenDemoApp, demoOnly, kMismatch},
        {"other primary, demo nested, other listed", kOtherThenDemoApp, L"[" + Quoted(other) + L"]", kPasses},
        {"missing file", testing::BackslashPath(kSignedApp) + L".missing", demoOnly, kMismatch},
        {"missing folder", L"Z:\\tavro-no-such-folder\\Tavro.exe", demoOnly, kMismatch},
        {"empty path", L"", demoOnly, kMismatch},
        // A malformed list is the JSON layer's failure, even next to a matching entry.
        {"number entry", kSignedApp, L"[42]", PlatformErrorText(kEIllegalMethodCall)},
        {"number entry after the match", kSignedApp, L"[" + Quoted(demo) + L",42]",
         PlatformErrorText(kEIllegalMethodCall)},
        {"number entry before the match", kSignedApp, L"[42," + Quoted(demo) + L"]",
         PlatformErrorText(kEIllegalMethodCall)},
        {"list given as one string", kSignedApp, Quoted(demo), PlatformErrorText(kEIllegalMethodCall)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutcomeOf(c.path, SignerConfig(c.signers)), c.outcome) << c.name;
    }
}

TEST(VerifyPublisherSignature, MissingListIsTheJsonLayersFailure) {
    const json::JsonObject noList = json::JsonObject::Parse(L"{\"installerVersion\":\"1.0.1\"}");
    EXPECT_EQ(OutcomeOf(kSignedApp, noList), PlatformErrorText(kWebJsonValueNotFound));
    // The list is consulted only for a file whose signature holds.
    EXPECT_EQ(OutcomeOf(kUnsignedApp, noList), kMismatch);
    EXPECT_EQ(OutcomeOf(kTamperedApp, noList), kMismatch);
}

TEST(VerifyPublisherSignature, OneArgumentFormReadsTheInstallerConfiguration) {
    const EmbeddedConfigRestorer restore;
    LoadInstallerConfig();
    EXPECT_EQ(OutcomeOf(kSignedApp), kPasses);
    EXPECT_EQ(OutcomeOf(kOtherPublisherApp), kMismatch);

    LoadInstallerConfig(R"({"windowsSignerSHA256":[")" + WideToUtf8(kOtherPublisherFingerprint) + R"("]})");
    EXPECT_EQ(OutcomeOf(kSignedApp), kMismatch);
    EXPECT_EQ(OutcomeOf(kOtherPublisherApp), kPasses);
}

TEST(VerifyPublisherSignature, EveryCallLooksAtTheFileAgain) {
    const testing::ScratchFolder scratch(L"signature");
    const json::JsonObject config = SignerConfig(L"[" + Quoted(kDemoPublisherFingerprint) + L"]");
    const std::wstring copy = scratch.CopyInto(kSignedApp, L"Tavro.exe");
    EXPECT_EQ(OutcomeOf(copy, config), kPasses);

    ASSERT_TRUE(CopyFileW(kTamperedApp, copy.c_str(), FALSE));
    EXPECT_EQ(OutcomeOf(copy, config), kMismatch);

    ASSERT_TRUE(CopyFileW(kSignedApp, copy.c_str(), FALSE));
    EXPECT_EQ(OutcomeOf(copy, config), kPasses);

    ASSERT_TRUE(DeleteFileW(copy.c_str()));
    EXPECT_EQ(OutcomeOf(copy, config), kMismatch);
}

}  // namespace
}  // namespace tavro::verify
