#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

// The same vectors run against MultiByteToWideChar under Wine and the portable code natively.
TEST(Text, ConvertsWellFormedTextBothWays) {
    struct Case {
        std::string utf8;
        std::wstring utf16;
    };
    const Case cases[] = {
        {"", L""},
        {"ascii 123", L"ascii 123"},
        {"\xC3\xA9", {L'\x00E9'}},
        {"\xE2\x80\xA6", {L'\x2026'}},
        {"\xEF\xBB\xBF" "a", {L'\xFEFF', L'a'}},
        {"\xF0\x9F\x98\x80", {wchar_t(0xD83D), wchar_t(0xDE00)}},
        {"\xF4\x8F\xBF\xBF", {wchar_t(0xDBFF), wchar_t(0xDFFF)}},
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        {"\xE6\x97\xA5\xE6\x9C\xAC", {L'\x65E5', L'\x672C'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToWide(c.utf8), c.utf16);
        EXPECT_EQ(WideToUtf8(c.utf16), c.utf8);
    }
}

TEST(Text, ReplacesMalformedInput) {
    const std::string malformed[] = {"\xFF", "a\x80z", "\xC3", "\xE2\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80"};
    for (const std::string& text : malformed) {
        SCOPED_TRACE(text);
        const std::wstring wide = Utf8ToWide(text);
        EXPECT_NE(wide.find(L'\xFFFD'), std::wstring::npos);
        for (const wchar_t unit : wide) EXPECT_FALSE(unit >= 0xD800 && unit <= 0xDFFF);
    }
    EXPECT_EQ(Utf8ToWide("a\x80z").front(), L'a');
    EXPECT_EQ(Utf8ToWide("a\x80z").back(), L'z');
    EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xD800)}), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(std::wstring{L'a', wchar_t(0xDC00), L'b'}), "a\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace tavro
