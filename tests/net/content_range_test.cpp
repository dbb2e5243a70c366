#include "net/content_range.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavro::net {
namespace {

TEST(ContentRange, ReadsTheThreeNumbers) {
    struct Case {
        const wchar_t* value;
        bool matches;
        ContentRange expected;
    };
    const Case cases[] = {
        {L"bytes 100-199/200", true, {100, 199, 200}},
        {L"bytes 0-0/1", true, {0, 0, 1}},
        {L"bytes 007-08/09", true, {7, 8, 9}},
        {L"bytes 0-18446744073709551615/18446744073709551615", true, {0, UINT64_MAX, UINT64_MAX}},
        {L"bytes 100-199/*", false, {}},
        {L"bytes */200", false, {}},
        {L"Bytes 100-199/200", false, {}},
        {L"bytes  100-199/200", false, {}},
        {L"bytes 100-199/200 ", false, {}},
        {L" bytes 100-199/200", false, {}},
        {L"bytes=100-199/200", false, {}},
        {L"bytes 100-/200", false, {}},
        {L"bytes -199/200", false, {}},
        {L"bytes 100-199", false, {}},
        {L"bytes 100-199/200/300", false, {}},
        {L"bytes +1-2/3", false, {}},
        {L"bytes \x0661-2/3", false, {}},
        {L"", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const auto range = ParseContentRange(c.value);
        ASSERT_EQ(range.has_value(), c.matches);
        if (!range) continue;
        EXPECT_EQ(range->first, c.expected.first);
        EXPECT_EQ(range->last, c.expected.last);
        EXPECT_EQ(range->total, c.expected.total);
    }
}

TEST(ContentRange, NumbersBeyond64BitsAreOutOfRange) {
    const wchar_t* values[] = {L"bytes 18446744073709551616-1/2", L"bytes 1-2/99999999999999999999999"};
    for (const wchar_t* value : values) {
        SCOPED_TRACE(value);
        try {
            ParseContentRange(value);
            ADD_FAILURE() << "accepted";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stoull argument out of range");
        }
    }
    // Not matching at all wins over a number that would not fit.
    EXPECT_FALSE(ParseContentRange(L"bytes 99999999999999999999999-1/*").has_value());
}

TEST(ContentRange, AgreesWithRegex) {
    const std::wregex expression(L"bytes ([0-9]+)-([0-9]+)/([0-9]+)");
    const std::vector<std::wstring> tokens = {L"bytes ", L"bytes", L" ", L"1", L"00", L"42", L"-", L"/", L"*", L"x", L"\r"};
    std::mt19937 random(3);
    std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1);
    std::uniform_int_distribution<int> number(0, 999);
    int hits = 0;
    for (int i = 0; i < 30000; ++i) {
        // A valid value, then one random disturbance or none.
        std::wstring value = L"bytes " + std::to_wstring(number(random)) + L"-" + std::to_wstring(number(random)) +
                             L"/" + std::to_wstring(number(random));
        std::uniform_int_distribution<size_t> where(0, value.size() - 1);
        switch (random() % 4) {
        case 0: break;
        case 1: value.insert(where(random), tokens[pick(random)]); break;
        case 2: value.erase(where(random), 1); break;
        default: value[where(random)] = tokens[pick(random)][0]; break;
        }
        const bool expected = std::regex_match(value, expression);
        ASSERT_EQ(expected, ParseContentRange(value).has_value()) << std::string(value.begin(), value.end());
        hits += expected;
    }
    EXPECT_GT(hits, 200);
}

// A hostile server may send a header of any length.
TEST(ContentRange, LongHeadersFailCleanly) {
    const std::wstring digits(1 << 20, L'1');
    EXPECT_FALSE(ParseContentRange(L"bytes " + digits + L"-").has_value());
    EXPECT_FALSE(ParseContentRange(L"bytes 1-2/3" + std::wstring(1 << 20, L' ')).has_value());
    EXPECT_THROW(ParseContentRange(L"bytes " + digits + L"-1/2"), std::out_of_range);
    const std::wstring zeros(1 << 20, L'0');
    const auto range = ParseContentRange(L"bytes " + zeros + L"5-" + zeros + L"6/" + zeros + L"7");
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->total, 7u);
}

}  // namespace
}  // namespace tavro::net
