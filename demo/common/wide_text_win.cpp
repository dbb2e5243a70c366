#include "wide_text_win.h"

#include <windows.h>

#include <climits>

#include "demo_errors_win.h"

namespace tavro::demo {

std::string ToUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    if (text.size() > INT_MAX / 4) DemoFail("Text too long");
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) ThrowLastError("WideCharToMultiByte");
    std::string out(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr) != needed)
        ThrowLastError("WideCharToMultiByte");
    return out;
}

std::wstring ToWide(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > INT_MAX) DemoFail("Text too long");
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) ThrowLastError("MultiByteToWideChar");
    std::wstring out(static_cast<size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed) != needed)
        ThrowLastError("MultiByteToWideChar");
    return out;
}

}  // namespace tavro::demo
