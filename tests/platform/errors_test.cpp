#include "platform/errors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace tavro {
namespace {

TEST(Errors, FailCarriesTheExactMessage) {
    try {
        Fail("Untrusted download host");
        ADD_FAILURE() << "did not throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Untrusted download host");
    }
}

TEST(Errors, PlatformErrorCarriesTheCode) {
    const Hresult codes[] = {kWebInvalidJsonString, kWebJsonValueNotFound, kEIllegalMethodCall, kEBounds,
                             HresultFromWin32(5)};
    for (const Hresult code : codes) {
        try {
            ThrowIfFailed(code);
            ADD_FAILURE() << "did not throw";
        } catch (const PlatformError& e) {
            EXPECT_EQ(e.code(), code);
            // Without a platform text, the code itself is what the error says.
            if (e.message().empty()) {
                char expected[32];
                std::snprintf(expected, sizeof expected, "HRESULT 0x%08X", static_cast<unsigned>(code));
                EXPECT_STREQ(e.what(), expected);
            } else {
                EXPECT_EQ(e.message(), e.what());
                EXPECT_NE(e.message().back(), '\n');
            }
        }
    }
    EXPECT_NO_THROW(ThrowIfFailed(0));
    EXPECT_NO_THROW(ThrowIfFailed(1));  // S_FALSE is a success
    EXPECT_EQ(HresultFromWin32(5), static_cast<Hresult>(0x80070005));
    EXPECT_EQ(HresultFromWin32(0), 0);
}

}  // namespace
}  // namespace tavro
