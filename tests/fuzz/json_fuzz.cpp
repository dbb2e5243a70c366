// Text that must be one JSON object, as receipts, the configuration and the locale document
// arrive. Every refusal must be a PlatformError with the platform's code; what parses must
// be readable member by member, rebuild to the same text, and serialise to text that
// parses back to itself.
#include <cstdint>
#include <string>

#include "fuzz_checks.h"
#include "json/json.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace tavro::fuzz {
namespace {

// Runs a read; returns false when it was refused with the given code, stops on anything else.
template <class Read>
bool Reads(Read read, Hresult refusal) {
    try {
        read();
        return true;
    } catch (const PlatformError& e) {
        Require(e.code() == refusal, "a refused read carries the platform's code");
        return false;
    }
}

void Walk(const json::JsonValue& value, int depth);

void WalkObject(const json::JsonObject& object, int depth) {
    json::JsonObject copy;
    for (const auto& [name, member] : object.Members()) {
        Require(object.HasKey(name), "an enumerated member is found by its name");
        Require(object.GetNamedValue(name).Stringify() == member.Stringify(), "lookup and enumeration agree");
        copy.SetNamedValue(name, member);
        Walk(member, depth + 1);
    }
    Require(copy.Stringify() == object.Stringify(), "members set in order rebuild the object");
    Reads([&] { object.GetNamedValue(L"\uFFFF-absent"); }, kWebJsonValueNotFound);
}

void Walk(const json::JsonValue& value, int depth) {
    Require(depth <= 257, "nesting stays within the parser's limit");
    Reads([&] { value.GetString(); }, kEIllegalMethodCall);
    if (double number = 0; Reads([&] { number = value.GetNumber(); }, kEIllegalMethodCall)) {
        Require(json::JsonValue::CreateNumberValue(number).GetNumber() == number, "numbers keep their value");
    }
    if (json::JsonObject object; Reads([&] { object = value.GetObject(); }, kEIllegalMethodCall)) {
        WalkObject(object, depth);
    }
    if (json::JsonArray array; Reads([&] { array = value.GetArray(); }, kEIllegalMethodCall)) {
        for (std::size_t i = 0; i < array.Size(); ++i) Walk(array.GetAt(i), depth + 1);
        Reads([&] { array.GetAt(array.Size()); }, kEBounds);
    }
}

}  // namespace
}  // namespace tavro::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    json::JsonObject object;
    if (!Reads([&] { object = json::JsonObject::Parse(Utf8ToWide(BytesOf(data, size))); }, kWebInvalidJsonString)) {
        return 0;
    }
    WalkObject(object, 0);
    const std::wstring text = object.Stringify();
    Require(json::JsonObject::Parse(text).Stringify() == text, "serialised text parses back to itself");
    return 0;
}
