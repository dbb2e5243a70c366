#include "verify/app_version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "feed/version.h"
#include "platform/text.h"
#include "support/error_of.h"
#include "version_fixtures.h"

// The fixtures are real executables built next to this test, each with a version
// resource of its own (tests/verify/fixtures); the paths reach them through Wine's Z: drive.

namespace tavro::verify {
namespace {

std::wstring Fixture(const char* name) {
    for (const VersionFixture& fixture : kVersionFixtures) {
        if (std::strcmp(fixture.name, name) == 0) return fixture.path;
    }
    throw std::logic_error(std::string("no fixture named ") + name);
}

TEST(ReadApplicationVersion, ProductVersionWithoutItsFourthPart) {
    struct Case {
        const char* fixture;
        const char* version;
    };
    const Case cases[] = {
        // File version 9.9.9.9 and a string table saying 7.7.7.7 must both be ignored.
        {"product_differs", "1.4.2"},
        {"zero_parts", "2.0.0"},
        {"max_parts", "65535.65535.65535"},
        {"fourth_part_a", "3.10.200"},
        {"fourth_part_b", "3.10.200"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideToUtf8(ReadApplicationVersion(Fixture(c.fixture))), c.version) << c.fixture;
    }
}

TEST(ReadApplicationVersion, FourthPartDoesNotMakeVersionsDiffer) {
    const std::wstring a = ReadApplicationVersion(Fixture("fourth_part_a"));
    const std::wstring b = ReadApplicationVersion(Fixture("fourth_part_b"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(feed::CompareVersions(a, b), 0);
}

TEST(ReadApplicationVersion, FailuresCarryTheirMessages) {
    struct Case {
        const char* name;
        std::wstring path;
        const char* message;
    };
    const Case cases[] = {
        {"no version resource", Fixture("no_version"), "Missing application version"},
        {"missing file", kMissingFile, "Missing application version"},
        {"missing folder", kMissingFolder, "Missing application version"},
        {"not an executable", kNotAnExecutable, "Missing application version"},
        {"empty path", L"", "Missing application version"},
        {"root without fixed block", Fixture("no_fixed_block"), "Invalid version information"},
        {"fixed block one byte short", Fixture("short_fixed_block"), "Invalid version information"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tavro::testing::ErrorOf([&] { ReadApplicationVersion(c.path); }), c.message) << c.name;
    }
}

}  // namespace
}  // namespace tavro::verify
