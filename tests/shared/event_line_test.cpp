#include "shared/event_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tavro {
namespace {

struct LineCase {
    const char* name;
    std::int64_t millis;
    const char* expected;
    std::uint32_t httpStatus = 0;
    const char* tlsFailure = "";
};

TEST(EventLine, FormatsTheExactBytes) {
    const LineCase cases[] = {
        {"installer_opened", 1767225600000,
         "{\"event\":\"installer_opened\",\"platform\":\"windows\",\"timestamp\":1767225600000}\n"},
        {"payload_cache_cleanup_deferred", 1,
         "{\"event\":\"payload_cache_cleanup_deferred\",\"platform\":\"windows\",\"timestamp\":1}\n"},
        {"cancelled", 0, "{\"event\":\"cancelled\",\"platform\":\"windows\",\"timestamp\":0}\n"},
        // Largest millisecond count a FILETIME can produce: no separators, no truncation.
        {"install_started", 910692730085477,
         "{\"event\":\"install_started\",\"platform\":\"windows\",\"timestamp\":910692730085477}\n"},
        // Names are written as given, with no escaping.
        {"a\"b", 5, "{\"event\":\"a\"b\",\"platform\":\"windows\",\"timestamp\":5}\n"},
        {"", 7, "{\"event\":\"\",\"platform\":\"windows\",\"timestamp\":7}\n"},
        {"installer_failed", 9,
         "{\"event\":\"installer_failed\",\"platform\":\"windows\",\"timestamp\":9,\"httpStatus\":404}\n", 404},
        {"installer_failed", 9,
         "{\"event\":\"installer_failed\",\"platform\":\"windows\",\"timestamp\":9,"
         "\"tlsFailure\":\"unknown_authority+wrong_name\"}\n",
         0, "unknown_authority+wrong_name"},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(FormatEventLine(c.name, c.millis, c.httpStatus, c.tlsFailure), c.expected) << c.name;
    }
}

TEST(EventLine, ConvertsFileTimeToWholeUnixMilliseconds) {
    // 1970-01-01 and 2026-01-01 00:00:00 UTC as FILETIME values.
    constexpr std::int64_t kUnixEpoch = 116444736000000000;
    constexpr std::int64_t kNewYear2026 = 134116992000000000;
    const struct {
        std::int64_t fileTime;
        std::int64_t millis;
    } cases[] = {
        {kUnixEpoch, 0},
        {kUnixEpoch + 9999, 0},       // fraction of a millisecond dropped
        {kUnixEpoch + 10000, 1},
        {kNewYear2026, 1767225600000},
        {kNewYear2026 + 19999, 1767225600001},
        {0x7FFFFFFFFFFFFFFF, 910692730085477},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileTimeToUnixMillis(c.fileTime), c.millis) << c.fileTime;
    }
}

}  // namespace
}  // namespace tavro
