#include "platform/errors.h"

#include <windows.h>

#include "platform/text.h"

namespace tavro {

std::string PlatformMessageText(Hresult code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) return {};
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return WideToUtf8(text);
}

void ThrowLastError() {
    const DWORD error = GetLastError();
    // A failing call that left no error code must still be reported as a failure.
    throw PlatformError(error == ERROR_SUCCESS ? kEFail : HresultFromWin32(error));
}

}  // namespace tavro
