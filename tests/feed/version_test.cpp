#include "feed/version.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace tavro::feed {
namespace {

TEST(Version, ComparesNumerically) {
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        int expected;
    };
    const Case cases[] = {
        {L"1.2.3", L"1.2.3", 0},
        {L"1.2.3", L"1.2.03", 0},
        {L"1.10.0", L"1.9.9", 1},
        {L"2.0.0", L"10.0.0", -1},
        {L"0.0.0", L"0.0.0", 0},
        {L"4294967295.0.0", L"4294967294.9.9", 1},
        {L"1.2.4", L"1.3.0", -1},
        {L"1.3.0", L"1.2.99", 1},
        {L"3.0.1", L"3.0.0", 1},
        {L"00000000000000000000007.0.0", L"7.0.0", 0},
        {L"10.0.18362", L"10.0.0", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.a) + L" vs " + c.b);
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected);
    }
}

TEST(Version, ParsesComponents) {
    const VersionNumber v = ParseVersion(L"01.002.4294967295");
    EXPECT_EQ(v.major, 1u);
    EXPECT_EQ(v.minor, 2u);
    EXPECT_EQ(v.patch, 4294967295u);
}

TEST(Version, RefusesOtherForms) {
    const wchar_t* invalid[] = {
        L"1.2", L"1.2.3.4", L"v1.2.3", L"1.2.3-beta", L"1.2.3+build", L" 1.2.3", L"1.2.3 ",
        L"1..3", L"", L"1.2.", L".1.2", L"1.-2.3", L"+1.2.3", L"1,2,3", L"1.2.3\n",
        L"\x0661.2.3",  // an Arabic-Indic digit is not 0 to 9
        L"1.2.\xFF13",  // nor is a full-width digit
    };
    for (const wchar_t* text : invalid) {
        SCOPED_TRACE(text);
        try {
            ParseVersion(text);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Invalid version");
        }
        EXPECT_THROW(CompareVersions(L"1.0.0", text), std::runtime_error);
    }
}

TEST(Version, RefusesComponentsBeyond32Bits) {
    const wchar_t* tooLarge[] = {L"4294967296.0.0", L"0.4294967296.0", L"0.0.99999999999999999999999"};
    for (const wchar_t* text : tooLarge) {
        SCOPED_TRACE(text);
        try {
            ParseVersion(text);
            ADD_FAILURE() << "accepted";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stoul argument out of range");
        }
    }
    // The left side is parsed first, so its failure is the one reported.
    try {
        CompareVersions(L"1.2", L"4294967296.0.0");
        ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid version");
    }
}

}  // namespace
}  // namespace tavro::feed
