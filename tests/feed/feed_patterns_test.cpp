#include "feed/feed_patterns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace tavro::feed {
namespace {

// The matchers must agree with std::regex_match (ECMAScript) on every input the library
// can handle. Inputs are random strings built from tokens that sit on the expressions'
// edges; they stay short, because the library itself crashes on long ones.
template <class Char>
std::basic_string<Char> RandomText(std::mt19937& random, const std::vector<std::basic_string<Char>>& tokens,
                                   size_t maxTokens) {
    std::uniform_int_distribution<size_t> count(0, maxTokens);
    std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1);
    std::basic_string<Char> text;
    for (size_t n = count(random); n > 0; --n) text += tokens[pick(random)];
    return text;
}

const std::vector<std::string> kLineTokens = {
    "version", "files", "url", "sha512", "size", "blockMapSize", ":", ": ", " ", "  ", "    ",
    "\t", "-", "  - ", "    ", "1", "0", "42", ".", "a", "x y", "#", "'", "\"", "\r", "\n",
    std::string(1, '\0'), "\xEF\xBB\xBF", "\x85", "\xFF", "\xE2\x80\xA8", "Version", "file",
};

struct CaptureCase {
    const char* name;
    const char* expression;
    std::optional<LineFields> (*match)(std::string_view);
    bool hasKey;
};

std::optional<LineFields> FileItemAsFields(std::string_view line) {
    if (auto url = MatchFileItem(line)) return LineFields{{}, *url};
    return std::nullopt;
}

TEST(FeedPatterns, CapturingLineExpressionsAgreeWithRegex) {
    const CaptureCase cases[] = {
        {"top-level", "^(version|files):[ \\t]*(.*?)[ \\t]*$", MatchTopLevelField, true},
        {"file item", "^  - url:[ \\t]*(.*?)[ \\t]*$", FileItemAsFields, false},
        {"file field", "^    (sha512|size):[ \\t]*(.*?)[ \\t]*$", MatchFileField, true},
    };
    for (const CaptureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::regex expression(c.expression);
        std::mt19937 random(20261208);
        int matched = 0;
        for (int i = 0; i < 40000; ++i) {
            // Half the samples start with a line head that can match, to reach deep cases.
            std::string line = RandomText(random, kLineTokens, 8);
            if (i % 2 == 0) {
                static const char* heads[] = {"version:", "files:", "  - url:", "    sha512:", "    size:"};
                line = heads[i / 2 % 5] + line;
            }
            std::smatch groups;
            const bool expected = std::regex_match(line, groups, expression);
            const auto actual = c.match(line);
            ASSERT_EQ(expected, actual.has_value()) << '"' << line << '"';
            if (!expected) continue;
            ++matched;
            const size_t valueGroup = c.hasKey ? 2 : 1;
            EXPECT_EQ(groups[valueGroup].str(), std::string(actual->value)) << '"' << line << '"';
            if (c.hasKey) {
                EXPECT_EQ(groups[1].str(), std::string(actual->key)) << '"' << line << '"';
            }
        }
        EXPECT_GT(matched, 1000);  // the sample really exercised the matching side
    }
}

// Text near the version form: three digit groups, then one random disturbance or none.
template <class Char>
std::basic_string<Char> NearVersion(std::mt19937& random, const std::vector<std::basic_string<Char>>& tokens) {
    std::uniform_int_distribution<int> digits(1, 3);
    std::uniform_int_distribution<int> digit(0, 9);
    std::basic_string<Char> text;
    for (int group = 0; group < 3; ++group) {
        if (group > 0) text += Char('.');
        for (int n = digits(random); n > 0; --n) text += Char('0' + digit(random));
    }
    std::uniform_int_distribution<size_t> where(0, text.size());
    std::uniform_int_distribution<size_t> pick(0, tokens.size() - 1);
    switch (random() % 4) {
    case 0: break;
    case 1: text.insert(where(random), tokens[pick(random)]); break;
    case 2: text.erase(std::min(where(random), text.size() - 1), 1); break;
    default: text[std::min(where(random), text.size() - 1)] = tokens[pick(random)][0]; break;
    }
    return text;
}

TEST(FeedPatterns, BooleanExpressionsAgreeWithRegex) {
    const std::regex blockMap("^    blockMapSize: [0-9]+[ \\t]*$");
    const std::regex digits("[0-9]+");
    const std::regex version("[0-9]+\\.[0-9]+\\.[0-9]+");
    const std::vector<std::string> numberTokens = {"0", "7", "19", ".", " ", "\t", "a", "-", "+", "\r",
                                                   "\xD9\xA0", std::string(1, '\0')};
    std::mt19937 random(7);
    int blockMapHits = 0;
    int versionHits = 0;
    int digitHits = 0;
    for (int i = 0; i < 40000; ++i) {
        const std::string tail = RandomText(random, numberTokens, 7);
        const std::string line = (i % 3 == 0 ? "    blockMapSize: " : i % 3 == 1 ? "    blockMapSize:" : "") + tail;
        const bool isBlockMap = std::regex_match(line, blockMap);
        ASSERT_EQ(isBlockMap, MatchesBlockMapSize(line)) << '"' << line << '"';
        blockMapHits += isBlockMap;
        const bool isDigits = std::regex_match(tail, digits);
        ASSERT_EQ(isDigits, MatchesDigits(tail)) << '"' << tail << '"';
        digitHits += isDigits;
        const std::string near = NearVersion(random, numberTokens);
        const bool isVersion = std::regex_match(near, version);
        ASSERT_EQ(isVersion, MatchesVersionForm(std::string_view(near))) << '"' << near << '"';
        versionHits += isVersion;
    }
    EXPECT_GT(blockMapHits, 100);
    EXPECT_GT(digitHits, 100);
    EXPECT_GT(versionHits, 1000);
}

TEST(FeedPatterns, WideExpressionsAgreeWithRegex) {
    const std::wregex version(L"[0-9]+\\.[0-9]+\\.[0-9]+");
    const std::wregex base64(L"[A-Za-z0-9+/]{85}[AQgw]==");
    const std::vector<std::wstring> versionTokens = {L"0", L"12", L".", L" ", L"a", L"\x0660", L"\xFF10", L"-"};
    const std::vector<std::wstring> base64Tokens = {L"A", L"Q", L"g", L"w", L"z", L"+", L"/", L"=", L"-", L"_",
                                                    L" ", L"\x00C0", L"9"};
    const std::vector<std::wstring> endings = {L"A==", L"Q==", L"g==", L"w==", L"B==", L"A=", L"A===", L"==", L""};
    std::mt19937 random(11);
    std::uniform_int_distribution<size_t> where(0, 84);
    std::uniform_int_distribution<size_t> pickToken(0, base64Tokens.size() - 1);
    std::uniform_int_distribution<size_t> pickEnding(0, endings.size() - 1);
    std::uniform_int_distribution<size_t> length(83, 87);
    int versionHits = 0;
    int base64Hits = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::wstring near = NearVersion(random, versionTokens);
        const bool isVersion = std::regex_match(near, version);
        ASSERT_EQ(isVersion, MatchesVersionForm(std::wstring_view(near)));
        versionHits += isVersion;

        // Digest-like text: the right length or near it, one disturbance or none, an ending.
        std::wstring candidate(length(random), L'k');
        if (i % 3 == 0) candidate[where(random) % candidate.size()] = base64Tokens[pickToken(random)][0];
        candidate += endings[pickEnding(random)];
        const bool isBase64 = std::regex_match(candidate, base64);
        ASSERT_EQ(isBase64, MatchesBase64Sha512(candidate));
        base64Hits += isBase64;
    }
    EXPECT_GT(versionHits, 1000);
    EXPECT_GT(base64Hits, 200);
}

// The whole point of the hand-written matchers: a feed line may be 131,072 bytes long.
TEST(FeedPatterns, LongLinesMatchInConstantStack) {
    const std::string filler(131072, 'x');
    const std::string blanks(131072, ' ');
    const std::string zeros(131072, '0');

    const auto top = MatchTopLevelField("version:" + filler);
    ASSERT_TRUE(top.has_value());
    EXPECT_EQ(top->value.size(), filler.size());
    EXPECT_FALSE(MatchTopLevelField("version:" + filler + "\r").has_value());
    const auto padded = MatchTopLevelField("files:" + blanks);
    ASSERT_TRUE(padded.has_value());
    EXPECT_TRUE(padded->value.empty());

    const auto item = MatchFileItem("  - url:" + blanks + filler + blanks);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(item->size(), filler.size());
    EXPECT_TRUE(MatchFileField("    sha512:" + filler).has_value());
    EXPECT_TRUE(MatchesBlockMapSize("    blockMapSize: " + zeros + blanks));
    EXPECT_FALSE(MatchesBlockMapSize("    blockMapSize: " + zeros + "x"));
    EXPECT_TRUE(MatchesDigits(zeros));
    EXPECT_TRUE(MatchesVersionForm(std::string_view(zeros + "." + zeros + "." + zeros)));
    EXPECT_FALSE(MatchesVersionForm(std::wstring(131072, L'1')));
    EXPECT_FALSE(MatchesBase64Sha512(std::wstring(131072, L'A')));
}

}  // namespace
}  // namespace tavro::feed
