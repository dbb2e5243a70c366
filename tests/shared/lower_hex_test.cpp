#include "shared/lower_hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tavro {
namespace {

TEST(LowerHex, TwoLowerCaseDigitsPerByteHighNibbleFirst) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(ToLowerHex(bytes), L"000fa0ff");
    EXPECT_EQ(ToLowerHex({}), L"");
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    const std::wstring text = ToLowerHex(all);
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text.substr(0, 8), L"00010203");
    EXPECT_EQ(text.substr(504), L"fcfdfeff");
    EXPECT_EQ(text.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
}

}  // namespace
}  // namespace tavro
