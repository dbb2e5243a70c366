#include "json/json.h"

#include <cmath>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/errors.h"
#include "platform/text.h"

namespace tavro::json {

struct Node {
    nlohmann::ordered_json value;
};

namespace {

using Json = nlohmann::ordered_json;

std::shared_ptr<Node> MakeNode(Json value) {
    return std::make_shared<Node>(Node{std::move(value)});
}

const Json& Expect(const std::shared_ptr<Node>& node, Json::value_t type) {
    if (!node || node->value.type() != type) ThrowHresult(kEIllegalMethodCall);
    return node->value;
}

const Json& Member(const std::shared_ptr<Node>& node, std::wstring_view name) {
    const Json& object = Expect(node, Json::value_t::object);
    const auto it = object.find(WideToUtf8(name));
    if (it == object.end()) ThrowHresult(kWebJsonValueNotFound);
    return *it;
}

std::wstring StringOf(const Json& value) {
    if (!value.is_string()) ThrowHresult(kEIllegalMethodCall);
    return Utf8ToWide(value.get_ref<const std::string&>());
}

double NumberOf(const Json& value) {
    if (!value.is_number()) ThrowHresult(kEIllegalMethodCall);
    return value.get<double>();
}

// Copying and serialising a document recurse once per nesting level, so text from a
// file or another process must not be allowed to nest deeply enough to exhaust the stack.
constexpr int kMaxDepth = 256;

bool NestsTooDeeply(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxDepth) return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

std::wstring Dump(const Json& value) {
    // Strings entered through the conversions are valid UTF-8; replace is only a safety net.
    return Utf8ToWide(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

}  // namespace

JsonValue JsonValue::CreateStringValue(std::wstring_view text) {
    return JsonValue(MakeNode(Json(WideToUtf8(text))));
}

JsonValue JsonValue::CreateNumberValue(double number) {
    // Whole numbers are kept as integers so that they serialise without a fraction.
    constexpr double kExact = 9007199254740992.0;  // 2^53
    if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) <= kExact) {
        return JsonValue(MakeNode(Json(static_cast<std::int64_t>(number))));
    }
    return JsonValue(MakeNode(Json(number)));
}

JsonValue::JsonValue(const JsonObject& object) : node_(object.node_) {}
JsonValue::JsonValue(const JsonArray& array) : node_(array.node_) {}

JsonObject JsonValue::GetObject() const {
    Expect(node_, Json::value_t::object);
    return JsonObject(node_);
}

JsonArray JsonValue::GetArray() const {
    Expect(node_, Json::value_t::array);
    return JsonArray(node_);
}

std::wstring JsonValue::GetString() const {
    return StringOf(node_->value);
}

double JsonValue::GetNumber() const {
    return NumberOf(node_->value);
}

std::wstring JsonValue::Stringify() const {
    return Dump(node_->value);
}

JsonObject::JsonObject() : node_(MakeNode(Json::object())) {}

JsonObject JsonObject::Parse(std::wstring_view text) {
    const std::string utf8 = WideToUtf8(text);
    if (NestsTooDeeply(utf8)) ThrowHresult(kWebInvalidJsonString);
    Json parsed = Json::parse(utf8, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) ThrowHresult(kWebInvalidJsonString);
    return JsonObject(MakeNode(std::move(parsed)));
}

void JsonObject::SetNamedValue(std::wstring_view name, const JsonValue& value) {
    node_->value[WideToUtf8(name)] = value.node_->value;
}

JsonValue JsonObject::GetNamedValue(std::wstring_view name) const {
    return JsonValue(MakeNode(Member(node_, name)));
}

std::wstring JsonObject::GetNamedString(std::wstring_view name) const {
    return StringOf(Member(node_, name));
}

double JsonObject::GetNamedNumber(std::wstring_view name) const {
    return NumberOf(Member(node_, name));
}

JsonArray JsonObject::GetNamedArray(std::wstring_view name) const {
    const Json& member = Member(node_, name);
    if (!member.is_array()) ThrowHresult(kEIllegalMethodCall);
    return JsonArray(MakeNode(member));
}

JsonObject JsonObject::GetNamedObject(std::wstring_view name) const {
    const Json& member = Member(node_, name);
    if (!member.is_object()) ThrowHresult(kEIllegalMethodCall);
    return JsonObject(MakeNode(member));
}

bool JsonObject::HasKey(std::wstring_view name) const {
    return node_->value.contains(WideToUtf8(name));
}

std::vector<std::pair<std::wstring, JsonValue>> JsonObject::Members() const {
    std::vector<std::pair<std::wstring, JsonValue>> members;
    members.reserve(node_->value.size());
    for (const auto& [name, value] : node_->value.items()) {
        members.emplace_back(Utf8ToWide(name), JsonValue(MakeNode(value)));
    }
    return members;
}

std::wstring JsonObject::Stringify() const {
    return Dump(node_->value);
}

JsonArray::JsonArray() : node_(MakeNode(Json::array())) {}

void JsonArray::Append(const JsonValue& value) {
    node_->value.push_back(value.node_->value);
}

std::size_t JsonArray::Size() const {
    return node_->value.size();
}

JsonValue JsonArray::GetAt(std::size_t index) const {
    if (index >= node_->value.size()) ThrowHresult(kEBounds);
    return JsonValue(MakeNode(node_->value[index]));
}

JsonObject JsonArray::GetObjectAt(std::size_t index) const {
    return GetAt(index).GetObject();
}

std::wstring JsonArray::GetStringAt(std::size_t index) const {
    return GetAt(index).GetString();
}

std::wstring JsonArray::Stringify() const {
    return Dump(node_->value);
}

std::wstring GetJsonString(const JsonObject& object, std::wstring_view name) {
    return object.GetNamedString(name);
}

}  // namespace tavro::json
