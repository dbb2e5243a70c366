#include "feed/base64.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// One table for both builds: natively it checks the portable decoder, under Wine
// CryptStringToBinaryW itself. The lenient rows (a lone last character, text after
// a padded group) record what Wine's decoder does.

namespace tavro::feed {
namespace {

using namespace std::string_literals;

constexpr wchar_t kDigest[] =
    L"lOx7CcNiSWsDe/2Ikg4V8QXiiHgQqTgciOVxqOk2iPNUAvegbk5hZ5iWKYLhTKB9R4dT7XSfp5UltjEebhI/nA==";
const std::string kDigestBytes =
    "\x94\xec\x7b\x09\xc3\x62\x49\x6b\x03\x7b\xfd\x88\x92\x0e\x15\xf1\x05\xe2\x88\x78\x10\xa9\x38\x1c"
    "\x88\xe5\x71\xa8\xe9\x36\x88\xf3\x54\x02\xf7\xa0\x6e\x4e\x61\x67\x98\x96\x29\x82\xe1\x4c\xa0\x7d"
    "\x47\x87\x53\xed\x74\x9f\xa7\x95\x25\xb6\x31\x1e\x6e\x12\x3f\x9c"s;

struct Case {
    std::string name;
    std::wstring text;
    std::optional<std::string> bytes;  // nothing: "Invalid base64"
};

std::vector<Case> Cases() {
    const std::wstring digest = kDigest;
    const std::wstring unpadded = digest.substr(0, 86);
    std::wstring urlSafe = digest;
    for (wchar_t& c : urlSafe) {
        if (c == L'+') c = L'-';
        if (c == L'/') c = L'_';
    }
    std::wstring abc25k;
    for (int i = 0; i < 25000; ++i) abc25k += L"QUJD";
    std::string abcBytes;
    for (int i = 0; i < 25000; ++i) abcBytes += "ABC";
    std::wstring crlf50k;
    for (int i = 0; i < 50000; ++i) crlf50k += L"\r\n";
    const std::nullopt_t invalid = std::nullopt;

    return {
        {"empty", L"", ""s},
        // Every length mod 4, padded and not.
        {"1 byte padded", L"QQ==", "A"s},
        {"1 byte unpadded", L"QQ", "A"s},
        {"2 bytes padded", L"QUI=", "AB"s},
        {"2 bytes unpadded", L"QUI", "AB"s},
        {"3 bytes", L"QUJD", "ABC"s},
        {"4 bytes padded", L"QUJDRA==", "ABCD"s},
        {"4 bytes unpadded", L"QUJDRA", "ABCD"s},
        {"5 bytes padded", L"QUJDREU=", "ABCDE"s},
        {"6 bytes", L"QUJDREVG", "ABCDEF"s},
        {"7 bytes", L"8P0KFyQxPg==", "\xf0\xfd\x0a\x17\x24\x31\x3e"s},
        {"alphabet ends", L"+/+/", "\xfb\xff\xbf"s},
        {"all ones", L"////", "\xff\xff\xff"s},
        {"zeros", L"AAAA", "\0\0\0"s},
        {"unused bits set", L"QR==", "A"s},
        {"unused bits set, unpadded", L"QUK", "AB"s},
        // A lone last character still gives a byte of its six bits.
        {"one character", L"Q", "\x40"s},
        {"one character after a group", L"QUJDR", "ABCD"s},
        {"lone A", L"A", "\0"s},

        // Padding: it must complete its group, and after a complete group the rest is ignored.
        {"one = short", L"QQ=", invalid},
        {"one = short after a group", L"QUJDRA=", invalid},
        {"= after one character", L"Q=", invalid},
        {"== after one character", L"Q==", invalid},
        {"=== after one character", L"Q===", "\x40"s},
        {"three =", L"QQ===", "A"s},
        {"four =", L"QQ====", "A"s},
        {"= after a full group", L"QUJD=", "ABC"s},
        {"== after 2 bytes", L"QUI==", "AB"s},
        {"only =", L"=", ""s},
        {"only ====", L"====", ""s},
        {"= first", L"=QUJD", ""s},
        {"data after = after a group", L"QUJD=QUJD", "ABC"s},
        {"second padded group", L"QQ==QQ==", "A"s},
        {"invalid character after padding", L"QQ==!", "A"s},
        {"invalid characters after a group's =", L"QUJD=!!!", "ABC"s},
        {"NUL after a group's =", L"QUJD=\0"s, "ABC"s},
        {"data inside padding", L"QQ=A", invalid},
        {"= in the middle", L"QU=JD", invalid},
        {"data between =", L"QUJDRA=A=", invalid},

        // Only space, tab, CR and LF are skipped, anywhere.
        {"space", L"QU JD", "ABC"s},
        {"spaces around", L" QUJD ", "ABC"s},
        {"CR LF around", L"\r\nQUJD\r\n", "ABC"s},
        {"CR LF everywhere", L"Q\r\nU\r\nJ\r\nD\r\n", "ABC"s},
        {"tab", L"QU\tJD", "ABC"s},
        {"CR LF between =", L"QQ=\r\n=", "A"s},
        {"space between =", L"Q Q = =", "A"s},
        {"only blanks", L" \t\r\n", ""s},
        {"vertical tab", L"QU\vJD", invalid},
        {"form feed", L"QU\fJD", invalid},
        {"no-break space", L"QUJD\x00A0", invalid},
        {"ideographic space", L"QUJD\x3000", invalid},
        {"line separator", L"QUJD\x2028", invalid},
        {"next line", L"QUJD\x0085", invalid},

        // Anything else outside the alphabet.
        {"exclamation mark", L"QUJD!", invalid},
        {"asterisk", L"QU*D", invalid},
        {"dot", L"QUJ.", invalid},
        {"URL-safe -", L"QUJ-", invalid},
        {"URL-safe _", L"QUJ_", invalid},
        {"NUL at end", L"QUJD\0"s, invalid},
        {"NUL first", L"\0QUJD"s, invalid},
        {"NUL inside", L"QU\0JD"s, invalid},
        {"Latin-1 letter", L"QUJD\x00E9", invalid},
        {"letter with the alphabet's low byte", L"QUJ\x0141", invalid},
        {"full-width letters", L"\xFF31" L"UJD", invalid},

        // A 64-byte digest in its 88-character form.
        {"digest", digest, kDigestBytes},
        {"digest unpadded", unpadded, kDigestBytes},
        {"digest with one =", digest.substr(0, 87), invalid},
        {"digest with ===", digest + L"=", kDigestBytes},
        {"digest then data", digest + L"A", kDigestBytes},
        {"digest split by CR LF", digest.substr(0, 64) + L"\r\n" + digest.substr(64) + L"\r\n", kDigestBytes},
        {"digest in URL-safe alphabet", urlSafe, invalid},

        // Long texts.
        {"100,001 A", std::wstring(100001, L'A'), std::string(75001, '\0')},
        {"100,000 characters then =", abc25k + L"=", abcBytes},
        {"100,000 line ends inside padding", L"QUJDRA=" + crlf50k + L"=", "ABCD"s},
    };
}

TEST(DecodeBase64, DecodesAsThePlatformDecoderDoes) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        try {
            const std::vector<std::uint8_t> bytes = DecodeBase64(c.text);
            ASSERT_TRUE(c.bytes.has_value()) << "accepted, " << bytes.size() << " bytes";
            EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == *c.bytes)
                << bytes.size() << " bytes, expected " << c.bytes->size();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Invalid base64");
            EXPECT_FALSE(c.bytes.has_value()) << "refused";
        }
    }
}

}  // namespace
}  // namespace tavro::feed
