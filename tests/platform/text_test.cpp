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

// One table for both implementations: CompareStringOrdinal under Wine, the portable code
// natively. Names compare as Windows compares file names: each UTF-16 unit through the
// system's upper-case table, in no locale. Since Windows 7 that table maps final sigma
// only in the linguistic tables, and it never maps dotless i, dotted capital I or long s.
TEST(Text, ComparesNamesIgnoringCaseAsWindowsDoes) {
    struct Case {
        std::wstring a;
        std::wstring b;
        bool equal;
    };
    const Case cases[] = {
        {L"Tavro.exe", L"TAVRO.EXE", true},
        {L"tavro.exe", L"Tavro.ex", false},
        {L"", L"", true},
        {L"a", L"", false},
        {L"J\u00FCrgen", L"J\u00DCRGEN", true},  // u and U with diaeresis
        {L"\u00FF", L"\u0178", true},             // y with diaeresis
        {L"\u00E6\u00F8\u00E5", L"\u00C6\u00D8\u00C5", true},
        {L"\u0434\u043E\u043A", L"\u0414\u041E\u041A", true},  // Cyrillic
        {L"\u03C3", L"\u03A3", true},             // sigma
        {L"\u03C2", L"\u03A3", false},            // final sigma
        {L"\u03C2", L"\u03C3", false},
        {L"\u0131", L"I", false},                  // dotless i
        {L"\u0131", L"i", false},
        {L"\u0130", L"i", false},                  // capital I with dot
        {L"\u0130", L"I", false},
        {L"\u017F", L"S", false},                  // long s
        {L"\u212A", L"k", false},                  // Kelvin sign
        {L"\u00B5", L"\u039C", false},             // micro sign
        {L"\u01C5", L"\u01C4", false},             // titlecase Dz
        {L"\u01C6", L"\u01C4", true},
        {L"\u00DF", L"SS", false},                 // one unit never becomes two
        {L"\uFF41", L"\uFF21", true},              // fullwidth a
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.a) + " / " + WideToUtf8(c.b));
        EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal);
        EXPECT_EQ(EqualsIgnoringCase(c.b, c.a), c.equal);
    }
}

}  // namespace
}  // namespace tavro
