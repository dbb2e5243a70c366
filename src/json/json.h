#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The program's JSON documents. Objects keep their members in document order and
// look them up by exact, case-sensitive name. Every refusal throws a PlatformError
// with the HRESULT the platform JSON classes use for it:
//   text that does not parse        WEB_E_INVALID_JSON_STRING   0x83750007
//   a missing member                WEB_E_JSON_VALUE_NOT_FOUND  0x83750009
//   a value of another type         E_ILLEGAL_METHOD_CALL       0x8000000E
//   an index out of range           E_BOUNDS                    0x8000000B
// Objects and arrays are reference types, as the platform's are: copies of a handle
// share one document. Values stored into, or read out of, an object or array are
// copies. Text nested more than 256 levels deep is refused as not parsing.

namespace tavro::json {

struct Node;
class JsonObject;
class JsonArray;

// Any JSON value: object, array, string, number, boolean or null.
class JsonValue {
public:
    static JsonValue CreateStringValue(std::wstring_view text);
    static JsonValue CreateNumberValue(double number);
    JsonValue(const JsonObject& object);  // NOLINT: an object is a value, as on the platform
    JsonValue(const JsonArray& array);    // NOLINT

    JsonObject GetObject() const;
    JsonArray GetArray() const;
    std::wstring GetString() const;
    double GetNumber() const;
    // Compact JSON text.
    std::wstring Stringify() const;

private:
    friend class JsonObject;
    friend class JsonArray;
    explicit JsonValue(std::shared_ptr<Node> node) : node_(std::move(node)) {}
    std::shared_ptr<Node> node_;
};

class JsonObject {
public:
    // A new empty object.
    JsonObject();
    // Parses text that must be exactly one JSON object.
    static JsonObject Parse(std::wstring_view text);

    // Sets the member, replacing one of the same name in place.
    void SetNamedValue(std::wstring_view name, const JsonValue& value);
    JsonValue GetNamedValue(std::wstring_view name) const;
    std::wstring GetNamedString(std::wstring_view name) const;
    double GetNamedNumber(std::wstring_view name) const;
    JsonArray GetNamedArray(std::wstring_view name) const;
    JsonObject GetNamedObject(std::wstring_view name) const;
    bool HasKey(std::wstring_view name) const;
    // Members in enumeration (document) order.
    std::vector<std::pair<std::wstring, JsonValue>> Members() const;
    std::wstring Stringify() const;

private:
    friend class JsonValue;
    explicit JsonObject(std::shared_ptr<Node> node) : node_(std::move(node)) {}
    std::shared_ptr<Node> node_;
};

class JsonArray {
public:
    // A new empty array.
    JsonArray();

    void Append(const JsonValue& value);
    std::size_t Size() const;
    JsonValue GetAt(std::size_t index) const;
    JsonObject GetObjectAt(std::size_t index) const;
    std::wstring GetStringAt(std::size_t index) const;
    std::wstring Stringify() const;

private:
    friend class JsonValue;
    friend class JsonObject;
    explicit JsonArray(std::shared_ptr<Node> node) : node_(std::move(node)) {}
    std::shared_ptr<Node> node_;
};

// The named member's text (GetNamedString); throws as above.
std::wstring GetJsonString(const JsonObject& object, std::wstring_view name);

}  // namespace tavro::json
