#include "feed/feed_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/error_of.h"

namespace tavro::feed {
namespace {

std::string ErrorOf(const std::string& feed) {
    return testing::ErrorOf([&] { ParseReleaseFeed(feed); });
}

constexpr char kSha[] = "    sha512: abc\n";

TEST(FeedParser, RefusesWithTheRightMessage) {
    struct Case {
        const char* name;
        std::string feed;
        const char* message;
    };
    const Case cases[] = {
        {"empty input", "", "Missing release version or files"},
        {"only comments", "# a\n  # b\n\t# c\n", "Missing release version or files"},
        {"files then only blanks and comments", "version: 1.0.0\nfiles:\n\n  # none\n", "Missing release version or files"},
        {"no version", "files:\n  - url: a.exe\n", "Missing release version or files"},
        {"version with comment", "version: 1.0.0 # latest\nfiles:\n  - url: a.exe\n", "Missing release version or files"},
        {"version with letter", "version: v1.0.0\nfiles:\n  - url: a.exe\n", "Missing release version or files"},
        {"version indented", " version: 1.0.0\nfiles:\n  - url: a.exe\n", "Missing release version or files"},
        {"version after tab", "\tversion: 1.0.0\nfiles:\n  - url: a.exe\n", "Missing release version or files"},
        {"version key in other case", "Version: 1.0.0\nfiles:\n  - url: a.exe\n", "Missing release version or files"},
        {"CR inside version value", "version: 1.0.0\r\r\nfiles:\n  - url: a.exe\n", "Missing release version or files"},
        {"duplicate version", "version: 1.0.0\nversion: 1.0.0\nfiles:\n  - url: a\n", "Duplicate feed field"},
        {"duplicate sha512", "version: 1.0.0\nfiles:\n  - url: a\n    sha512: x\n    sha512: y\n", "Duplicate feed field"},
        {"duplicate size", "version: 1.0.0\nfiles:\n  - url: a\n    size: 1\n    size: 1\n", "Duplicate feed field"},
        {"second files line", "version: 1.0.0\nfiles:\n  - url: a\nfiles:\n", "Invalid files list"},
        {"files with inline value", "version: 1.0.0\nfiles: []\n", "Invalid files list"},
        {"files with inline comment", "version: 1.0.0\nfiles: # none\n  - url: a\n", "Invalid files list"},
        {"sha512 before first item", "version: 1.0.0\nfiles:\n    sha512: x\n  - url: a\n", "Unsupported files list"},
        {"three-space indent", "version: 1.0.0\nfiles:\n   - url: a\n", "Unsupported files list"},
        {"unknown key in entry", "version: 1.0.0\nfiles:\n  - url: a\n    name: b\n", "Unsupported files list"},
        {"spaces then tab", "version: 1.0.0\nfiles:\n  \t- url: a\n", "Unsupported files list"},
        {"item without blank after hyphen", "version: 1.0.0\nfiles:\n  -url: a\n", "Unsupported files list"},
        {"blockMapSize with letter", "version: 1.0.0\nfiles:\n  - url: a\n    blockMapSize: 12a\n", "Unsupported files list"},
        {"blockMapSize two blanks", "version: 1.0.0\nfiles:\n  - url: a\n    blockMapSize:  12\n", "Unsupported files list"},
        {"blockMapSize no digits", "version: 1.0.0\nfiles:\n  - url: a\n    blockMapSize: \n", "Unsupported files list"},
        {"CR inside url value", "version: 1.0.0\nfiles:\n  - url: a\rb\n", "Unsupported files list"},
        {"lone quote", "version: '\nfiles:\n  - url: a\n", "Invalid YAML scalar"},
        {"unclosed single quote", "version: '1.0.0\nfiles:\n  - url: a\n", "Invalid YAML scalar"},
        {"mixed quotes", "version: \"1.0.0'\nfiles:\n  - url: a\n", "Invalid YAML scalar"},
        {"backslash in quoted url", "version: 1.0.0\nfiles:\n  - url: 'a\\b.exe'\n", "Unsupported YAML scalar"},
        {"own quote inside", "version: 1.0.0\nfiles:\n  - url: \"a\"b\"\n", "Unsupported YAML scalar"},
        {"anchor", "version: &v 1.0.0\nfiles:\n  - url: a\n", "Unsupported YAML scalar"},
        {"flow sequence url", "version: 1.0.0\nfiles:\n  - url: [a]\n", "Unsupported YAML scalar"},
        {"literal block", "version: |\nfiles:\n  - url: a\n", "Unsupported YAML scalar"},
        {"folded size", "version: 1.0.0\nfiles:\n  - url: a\n    size: >\n", "Unsupported YAML scalar"},
        {"scalar failure before duplicate", "version: 1.0.0\nfiles:\n  - url: a\n    size: 1\n    size: '2\n", "Invalid YAML scalar"},
        {"one byte too large", std::string(131073, '#'), "Manifest too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ErrorOf(c.feed), c.message);
    }
}

struct Expected {
    std::string version;
    std::vector<FeedFileEntry> files;
};

TEST(FeedParser, AcceptsTheSubset) {
    struct Case {
        const char* name;
        std::string feed;
        Expected expected;
    };
    const FeedFileEntry full = {{"url", "Tavro-Setup-1.4.2.exe"}, {"sha512", "abc"}, {"size", "42"}};
    const Case cases[] = {
        {"well formed",
         "version: 1.4.2\nfiles:\n  - url: Tavro-Setup-1.4.2.exe\n    sha512: abc\n    size: 42\n"
         "    blockMapSize: 7\npath: Tavro-Setup-1.4.2.exe\nreleaseDate: '2026-01-01'\n",
         {"1.4.2", {full}}},
        {"CR LF and byte-order mark",
         "\xEF\xBB\xBFversion: 1.4.2\r\nfiles:\r\n  - url: Tavro-Setup-1.4.2.exe\r\n    sha512: abc\r\n    size: 42\r\n",
         {"1.4.2", {full}}},
        {"byte-order mark on every line",
         "\xEF\xBB\xBFversion: 1.4.2\n\xEF\xBB\xBF" "files:\n\xEF\xBB\xBF  - url: Tavro-Setup-1.4.2.exe\n"
         "    sha512: abc\n    size: 42",
         {"1.4.2", {full}}},
        {"quoted versions and values",
         "version: '1.4.2'\nfiles:\n  - url: \"Tavro-Setup-1.4.2.exe\"\n    sha512: 'abc'\n    size: \"42\"\n",
         {"1.4.2", {full}}},
        {"double-quoted version", "version: \"1.4.2\"\nfiles:\n  - url: a\n", {"1.4.2", {{{"url", "a"}}}}},
        {"no blank after colon, blanks after value",
         "version:1.4.2 \t\nfiles:\n  - url:\tTavro-Setup-1.4.2.exe  \n    sha512:abc\n    size:   42\t\n",
         {"1.4.2", {full}}},
        {"blank and comment lines inside the list",
         "version: 1.0.0\nfiles:\n  - url: a\n\n# note\n    # indented note\n  - url: b\n",
         {"1.0.0", {{{"url", "a"}}, {{"url", "b"}}}}},
        {"other top-level key ends the list; later items are ignored",
         "version: 1.0.0\nfiles:\n  - url: a\npath: a\n  - url: b\n    size: x\n",
         {"1.0.0", {{{"url", "a"}}}}},
        {"tab-led line ends the list too",
         "version: 1.0.0\nfiles:\n  - url: a\n\tnote\n  - url: b\n",
         {"1.0.0", {{{"url", "a"}}}}},
        {"indented lines before the list are ignored",
         "  anything: at all\nversion: 1.0.0\n  - url: z\nfiles:\n  - url: a\n",
         {"1.0.0", {{{"url", "a"}}}}},
        {"blockMapSize before the first item", "version: 1.0.0\nfiles:\n    blockMapSize: 1\n  - url: a\n",
         {"1.0.0", {{{"url", "a"}}}}},
        {"plain scalars keep hash, quotes and colons",
         "version: 1.0.0\nfiles:\n  - url: https://h/a#b 'c':d\n", {"1.0.0", {{{"url", "https://h/a#b 'c':d"}}}}},
        {"empty values", "version: 1.0.0\nfiles:\n  - url:\n    sha512: ''\n    size: \n",
         {"1.0.0", {{{"url", ""}, {"sha512", ""}, {"size", ""}}}}},
        {"leading zeros and wide components", "version: 0001.0.99999999999\nfiles:\n  - url: a\n",
         {"0001.0.99999999999", {{{"url", "a"}}}}},
        {"no final line feed", "version: 1.0.0\nfiles:\n  - url: a", {"1.0.0", {{{"url", "a"}}}}},
        {"other top-level keys in any place",
         "sha512: x\nversion: 1.0.0\nsize: 1\nfiles:\n  - url: a\nfiles2: y\n", {"1.0.0", {{{"url", "a"}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReleaseFeed feed = ParseReleaseFeed(c.feed);
        EXPECT_EQ(feed.version, c.expected.version);
        EXPECT_EQ(feed.files, c.expected.files);
    }
}

TEST(FeedParser, SizeLimitIsExact) {
    const std::string head = "version: 1.0.0\nfiles:\n  - url: a\n";
    std::string feed = head + "#" + std::string(131072 - head.size() - 1, 'x');
    ASSERT_EQ(feed.size(), 131072u);
    EXPECT_EQ(ParseReleaseFeed(feed).files.size(), 1u);
    feed += "x";
    EXPECT_EQ(ErrorOf(feed), "Manifest too large");
}

// Lines of the largest size a feed may have, in every position of the grammar.
TEST(FeedParser, LongestLinesParseWithoutCrashing) {
    const size_t room = 131072;
    const auto fill = [&](const std::string& prefix, const std::string& suffix, char c) {
        return prefix + std::string(room - prefix.size() - suffix.size(), c) + suffix;
    };
    const std::string version = "version: 1.0.0\nfiles:\n  - url: a\n";
    EXPECT_EQ(ErrorOf(fill("version: ", "", '1')), "Missing release version or files");
    EXPECT_EQ(ErrorOf(fill("version: 1.0.0\nfiles:\n  - url: ", "", 'u')), "");
    EXPECT_EQ(ErrorOf(fill(version + "    sha512: ", "", 's')), "");
    EXPECT_EQ(ErrorOf(fill(version + "    blockMapSize: ", "", '9')), "");
    EXPECT_EQ(ErrorOf(fill(version + "    blockMapSize: ", "x", '9')), "Unsupported files list");
    EXPECT_EQ(ErrorOf(fill(version + "  - url: '", "", 'q')), "Invalid YAML scalar");
    EXPECT_EQ(ErrorOf(fill(version, "", ' ')), "");
    EXPECT_EQ(ErrorOf(fill(version + "  x", "", '\t')), "Unsupported files list");
    EXPECT_EQ(ErrorOf(fill(version + "  ", "", '\t')), "");
    EXPECT_EQ(ErrorOf(fill(version, "", '\n')), "");
    EXPECT_EQ(ErrorOf(fill(version, "", '\r')), "");
    EXPECT_EQ(ErrorOf(fill("", "", '\xEF')), "Missing release version or files");
    EXPECT_EQ(ErrorOf(fill("version: 1.0.0\nfiles:", "", ' ')), "Missing release version or files");
    EXPECT_EQ(ErrorOf(fill(version + "    sha512:", "x", ' ')), "");
}

TEST(FeedParser, DecodesScalars) {
    struct Case {
        const char* value;
        const char* decoded;  // null: refused with message
        const char* message;
    };
    const Case cases[] = {
        {"", "", nullptr},
        {"plain", "plain", nullptr},
        {"'quoted'", "quoted", nullptr},
        {"\"double\"", "double", nullptr},
        {"''", "", nullptr},
        {"a#b'c\"d:e", "a#b'c\"d:e", nullptr},
        {"-dash", "-dash", nullptr},
        {"'", nullptr, "Invalid YAML scalar"},
        {"\"", nullptr, "Invalid YAML scalar"},
        {"'abc", nullptr, "Invalid YAML scalar"},
        {"'abc\"", nullptr, "Invalid YAML scalar"},
        {"'a\\b'", nullptr, "Unsupported YAML scalar"},
        {"\"a\\nb\"", nullptr, "Unsupported YAML scalar"},
        {"'it''s'", nullptr, "Unsupported YAML scalar"},
        {"!tag", nullptr, "Unsupported YAML scalar"},
        {"&anchor", nullptr, "Unsupported YAML scalar"},
        {"*alias", nullptr, "Unsupported YAML scalar"},
        {"[a]", nullptr, "Unsupported YAML scalar"},
        {"{a: b}", nullptr, "Unsupported YAML scalar"},
        {"|", nullptr, "Unsupported YAML scalar"},
        {">", nullptr, "Unsupported YAML scalar"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        if (c.decoded != nullptr) {
            EXPECT_EQ(DecodeFeedScalar(c.value), c.decoded);
            continue;
        }
        try {
            DecodeFeedScalar(c.value);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

}  // namespace
}  // namespace tavro::feed
