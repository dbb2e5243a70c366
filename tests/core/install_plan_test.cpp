#include "core/install_plan.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/errors.h"

namespace tavro::core {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(InstallPlan, RequiredDiskSpaceSaturatesInsteadOfWrapping) {
    struct Case {
        std::uint64_t package, installed, required;
    };
    const Case cases[] = {
        {0, 0, 536870912},
        {1000, 2000, 1000 + 4000 + 536870912},
        {kMax - 536870912, 0, kMax},
        {kMax - 536870911, 0, kMax},
        {0, kMax / 2, kMax},
        // Wrapped around, this would ask for only 2^63 bytes.
        {0, 0x8000000000000000ull - 268435456 + 0x4000000000000000ull, kMax},
        {0, kMax, kMax},
        {kMax, kMax, kMax},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.package) + " " + std::to_string(c.installed));
        EXPECT_EQ(RequiredDiskBytes(c.package, c.installed), c.required);
    }
}

TEST(InstallPlan, FeedNumbersBecomeSizes) {
    EXPECT_EQ(SizeFromJsonNumber(1234.9), 1234u);
    EXPECT_EQ(SizeFromJsonNumber(0), 0u);
    EXPECT_EQ(SizeFromJsonNumber(-5), 0u);
    EXPECT_EQ(SizeFromJsonNumber(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(SizeFromJsonNumber(1e300), kMax);
    EXPECT_EQ(SizeFromJsonNumber(18446744073709551616.0), kMax);
    EXPECT_EQ(SizeFromJsonNumber(9007199254740992.0), 9007199254740992u);
}

TEST(InstallPlan, RetryDecisionByMessageAndAttempt) {
    struct Case {
        const char* message;
        int attempt;
        RetryDecision decision;
    };
    const Case cases[] = {
        {"HTTP 416", 0, RetryDecision::RestartFromZero},
        {"HTTP 416", 1, RetryDecision::GiveUp},
        {"HTTP 416 ", 0, RetryDecision::GiveUp},
        {"HTTP 503", 0, RetryDecision::WaitAndRetry},
        {"HTTP 503", 2, RetryDecision::WaitAndRetry},
        {"HTTP 503", 3, RetryDecision::GiveUp},
        {"HTTP 404", 0, RetryDecision::GiveUp},
        {"HTTP 429: server busy. Retry later.", 0, RetryDecision::GiveUp},
        {"Invalid resumed range", 0, RetryDecision::GiveUp},
        {"Untrusted download host", 1, RetryDecision::GiveUp},
        // Neither a proxy that refused the user's logon nor a server that failed its
        // certificate is asked again: one more handshake would meet the same answer.
        {"HTTP 407: proxy sign-in required", 0, RetryDecision::GiveUp},
        {"Untrusted connection: unknown_authority", 0, RetryDecision::GiveUp},
        {"Network error. Check your connection or proxy and retry.", 0, RetryDecision::WaitAndRetry},
        {"Incomplete download", 2, RetryDecision::WaitAndRetry},
        {"Network read failed", 3, RetryDecision::GiveUp},
        // Case-sensitive: these are not the final kinds.
        {"http 404", 0, RetryDecision::WaitAndRetry},
        {"Range", 0, RetryDecision::WaitAndRetry},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " #" + std::to_string(c.attempt));
        EXPECT_EQ(DecideRetry(c.message, c.attempt), c.decision);
    }
    EXPECT_EQ(RetryWaitSteps(0), 10);
    EXPECT_EQ(RetryWaitSteps(1), 20);
    EXPECT_EQ(RetryWaitSteps(2), 40);
}

TEST(InstallPlan, TheLastWindowsX64ArtifactIsChosen) {
    const auto descriptor = [](const std::wstring& artifacts) {
        return json::JsonObject::Parse(L"{\"artifacts\":[" + artifacts + L"]}");
    };
    const json::JsonObject chosen = SelectWindowsArtifact(descriptor(
        LR"({"platform":"windows","arch":"x64","url":"a"},{"platform":"mac"},{"platform":"windows","arch":"arm64"},)"
        LR"({"platform":"windows","arch":"x64","url":"b"})"));
    EXPECT_EQ(chosen.GetNamedString(L"url"), L"b");

    for (const wchar_t* none : {L"", LR"({"platform":"Windows","arch":"x64"})", LR"({"platform":"windows","arch":"X64"})",
                                LR"({"platform":"mac"})"}) {
        SCOPED_TRACE(std::to_string(std::wstring(none).size()));
        try {
            SelectWindowsArtifact(descriptor(none));
            ADD_FAILURE() << "no artifact should match";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "No compatible Windows release");
        }
    }
    // A Windows element without "arch" is malformed; the JSON layer refuses it.
    EXPECT_THROW(SelectWindowsArtifact(descriptor(LR"({"platform":"windows"})")), PlatformError);
    EXPECT_THROW(SelectWindowsArtifact(descriptor(L"7")), PlatformError);
}

TEST(InstallPlan, SmallDecisions) {
    EXPECT_EQ(WindowsVersionText(10, 0, 19045), L"10.0.19045");
    EXPECT_EQ(WindowsVersionText(4294967295u, 0, 1), L"4294967295.0.1");
}

// A setup this run started, and one it found running after its installer had ended.
TEST(InstallPlan, SetupEndByExitCode) {
    constexpr char kFailed[] = "Setup was cancelled or failed. Retry the cached installer.";
    struct Case {
        std::optional<std::uint32_t> exitCode;
        bool startedByThisRun;
        const char* failure;  // nullptr: a success
        bool restart;
    };
    const Case cases[] = {
        {0, true, nullptr, false},
        {3010, true, nullptr, true},
        {1602, true, kFailed, false},
        {3011, true, kFailed, false},
        {std::nullopt, true, "Cannot read setup result", false},
        {0, false, nullptr, false},
        {3010, false, nullptr, true},
        {1603, false, kFailed, false},
        {std::nullopt, false, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.exitCode ? std::to_string(*c.exitCode) : "unread") + (c.startedByThisRun ? " own" : " found"));
        try {
            EXPECT_EQ(JudgeSetupExit(c.exitCode, c.startedByThisRun), c.restart);
            EXPECT_EQ(c.failure, nullptr);
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), c.failure);
        }
    }
}

}  // namespace
}  // namespace tavro::core
