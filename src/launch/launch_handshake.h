#pragma once

#include <string>

namespace tavro::launch {

// Starts the installed application with a fresh launch identifier and waits about five
// seconds for its receipt (or for a process started from the same executable). Returns
// whether the start was confirmed; the outcome is also journalled. Throws for a file that
// is not the publisher's, and for "Cannot create launch session", "Unsafe receipt
// directory", "Cannot create launch request" and "Installed, but could not start Tavro".
bool LaunchWithHandshake(const std::wstring& executable);

// Whether the receipt file confirms the launch `id` of `executable`: its "sessionId" is the
// id, its "stage" is "main-window-created", its "executable" is the started path text
// (ignoring case) and its "appVersion" is that file's product version. A receipt that
// cannot be read or understood is no confirmation; this never throws.
bool ReceiptConfirmsLaunch(const std::wstring& receipt, const std::wstring& id, const std::wstring& executable);

}  // namespace tavro::launch
