#include "launch/launch_receipt.h"

#include <exception>

#include "json/json.h"
#include "platform/text.h"

namespace tavro::launch {

bool ReceiptTextConfirmsLaunch(std::string_view receiptText, std::wstring_view id, std::wstring_view executable,
                               std::wstring_view appVersion) noexcept {
    try {
        const json::JsonObject object = json::JsonObject::Parse(Utf8ToWide(receiptText));
        return object.GetNamedString(L"sessionId") == id &&
               object.GetNamedString(L"stage") == L"main-window-created" &&
               EqualsIgnoringCase(object.GetNamedString(L"executable"), executable) &&
               object.GetNamedString(L"appVersion") == appVersion;
    } catch (const std::exception&) {
        return false;  // not JSON, a member missing or of another type, or out of memory
    }
}

}  // namespace tavro::launch
