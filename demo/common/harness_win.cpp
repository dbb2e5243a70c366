#include "harness_win.h"

#include <windows.h>

#include "demo_handles_win.h"

namespace tavro::demo {

std::optional<std::wstring> ReadHarnessSwitch(const wchar_t* name) {
    std::wstring value(64, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return std::nullopt;  // unset, or set to the empty text
        // Too small a buffer: the result is the size needed, terminator included.
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

std::optional<std::uint32_t> ParseDecimal(std::wstring_view text, std::uint32_t max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (value > max) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

void AppendHarnessLog(const wchar_t* variable, std::string_view line) noexcept {
    try {
        const std::optional<std::wstring> path = ReadHarnessSwitch(variable);
        if (!path) return;
        const UniqueFile file(CreateFileW(path->c_str(), FILE_APPEND_DATA,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        std::string text(line);
        text += "\r\n";
        DWORD written = 0;
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } catch (...) {
    }
}

}  // namespace tavro::demo
