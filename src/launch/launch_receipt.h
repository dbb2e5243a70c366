#pragma once

#include <string_view>

namespace tavro::launch {

// Whether the text of a receipt file (UTF-8, as the application wrote it) confirms the
// launch `id` of `executable`, whose product version is `appVersion`: one JSON object whose
// "sessionId" is the id, "stage" is "main-window-created", "executable" is the started path
// text ignoring case, and "appVersion" is that version. The text comes from another
// process and may be half written or anything else; it is then no confirmation. Never throws.
bool ReceiptTextConfirmsLaunch(std::string_view receiptText, std::wstring_view id, std::wstring_view executable,
                               std::wstring_view appVersion) noexcept;

}  // namespace tavro::launch
