#include "json/json.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/errors.h"
#include "support/error_of.h"

namespace tavro::json {
namespace {

using testing::CodeOf;

TEST(Json, RefusalsCarryThePlatformCodes) {
    const JsonObject doc = JsonObject::Parse(L"{\"s\":\"text\",\"n\":5,\"a\":[1,\"x\"],\"o\":{},\"b\":true,\"z\":null}");
    struct Case {
        const char* name;
        std::function<void()> action;
        Hresult code;
    };
    const Case cases[] = {
        {"not JSON", [] { JsonObject::Parse(L"{"); }, kWebInvalidJsonString},
        {"empty text", [] { JsonObject::Parse(L""); }, kWebInvalidJsonString},
        {"root is an array", [] { JsonObject::Parse(L"[]"); }, kWebInvalidJsonString},
        {"root is a string", [] { JsonObject::Parse(L"\"x\""); }, kWebInvalidJsonString},
        {"two objects", [] { JsonObject::Parse(L"{} {}"); }, kWebInvalidJsonString},
        {"trailing comma", [] { JsonObject::Parse(L"{\"a\":1,}"); }, kWebInvalidJsonString},
        {"nested too deeply", [] { JsonObject::Parse(L"{\"a\":" + std::wstring(100000, L'[') + std::wstring(100000, L']') + L"}"); },
         kWebInvalidJsonString},
        {"missing member", [&] { doc.GetNamedString(L"missing"); }, kWebJsonValueNotFound},
        {"names are case-sensitive", [&] { doc.GetNamedString(L"S"); }, kWebJsonValueNotFound},
        {"number as string", [&] { doc.GetNamedString(L"n"); }, kEIllegalMethodCall},
        {"string as number", [&] { doc.GetNamedNumber(L"s"); }, kEIllegalMethodCall},
        {"boolean as number", [&] { doc.GetNamedNumber(L"b"); }, kEIllegalMethodCall},
        {"null as string", [&] { doc.GetNamedString(L"z"); }, kEIllegalMethodCall},
        {"object as array", [&] { doc.GetNamedArray(L"o"); }, kEIllegalMethodCall},
        {"array as object", [&] { doc.GetNamedObject(L"a"); }, kEIllegalMethodCall},
        {"element of other type", [&] { doc.GetNamedArray(L"a").GetStringAt(0); }, kEIllegalMethodCall},
        {"index out of range", [&] { doc.GetNamedArray(L"a").GetAt(2); }, kEBounds},
        {"value as object", [&] { doc.GetNamedValue(L"s").GetObject(); }, kEIllegalMethodCall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CodeOf(c.action), c.code);
    }
}

TEST(Json, ReadsWhatItParses) {
    const JsonObject doc = JsonObject::Parse(
        L"  {\"b\": 1, \"a\": {\"x\": \"\\u00e9\\ud83d\\ude00\"}, \"c\": [\"p\", \"q\"], \"n\": -2.5e3}\r\n");
    std::wstring order;
    for (const auto& [name, value] : doc.Members()) order += name;
    EXPECT_EQ(order, L"bacn");  // document order, not sorted
    EXPECT_EQ(doc.GetNamedNumber(L"n"), -2500.0);
    EXPECT_EQ(doc.GetNamedNumber(L"b"), 1.0);
    // UTF-16 units in every build: e-acute, then a surrogate pair.
    EXPECT_EQ(doc.GetNamedObject(L"a").GetNamedString(L"x"), std::wstring({L'\x00e9', wchar_t(0xD83D), wchar_t(0xDE00)}));
    const JsonArray array = doc.GetNamedArray(L"c");
    ASSERT_EQ(array.Size(), 2u);
    EXPECT_EQ(array.GetStringAt(1), L"q");
    EXPECT_EQ(GetJsonString(doc.GetNamedObject(L"a"), L"x").size(), 3u);
}

TEST(Json, BuildsAndSerialisesCompactly) {
    JsonArray array;
    array.Append(JsonValue::CreateNumberValue(79999999996.0));
    array.Append(JsonValue::CreateNumberValue(0.5));
    array.Append(JsonValue::CreateStringValue(L"a\"b\\c\n"));
    JsonObject inner;
    inner.SetNamedValue(L"k", JsonValue::CreateStringValue(L"v"));
    JsonObject doc;
    doc.SetNamedValue(L"z", array);
    doc.SetNamedValue(L"a", inner);
    doc.SetNamedValue(L"z", JsonValue::CreateStringValue(L"replaced in place"));
    doc.SetNamedValue(L"u", JsonValue::CreateStringValue(std::wstring({L'\x00e9', wchar_t(0xD83D), wchar_t(0xDE00)})));
    EXPECT_EQ(array.Stringify(), L"[79999999996,0.5,\"a\\\"b\\\\c\\n\"]");
    const std::wstring text = doc.Stringify();
    EXPECT_EQ(text, std::wstring(L"{\"z\":\"replaced in place\",\"a\":{\"k\":\"v\"},\"u\":\"") + L'\x00e9' +
                        wchar_t(0xD83D) + wchar_t(0xDE00) + L"\"}");
    // What is written reads back the same.
    EXPECT_EQ(JsonObject::Parse(text).Stringify(), text);
}

TEST(Json, HandlesShareOneDocument) {
    JsonObject doc;
    JsonObject alias = doc;
    alias.SetNamedValue(L"k", JsonValue::CreateStringValue(L"v"));
    EXPECT_EQ(doc.GetNamedString(L"k"), L"v");
    EXPECT_TRUE(doc.HasKey(L"k"));
    EXPECT_FALSE(doc.HasKey(L"K"));
}

}  // namespace
}  // namespace tavro::json
