#include "demo_paths_win.h"

#include <knownfolders.h>
#include <shlobj.h>

#include "demo_errors_win.h"
#include "demo_handles_win.h"

namespace tavro::demo {

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
    std::wstring out(folder);
    if (!out.empty() && out.back() != L'\\' && out.back() != L'/') out += L'\\';
    out += name;
    return out;
}

std::wstring LocalAppDataPath() {
    PWSTR raw = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &raw);
    // The shell allocates the buffer even on some failures; it is ours to free either way.
    const UniqueCoTaskMemory owner(raw);
    if (FAILED(hr) || raw == nullptr) DemoFail("Cannot find the LocalAppData folder");
    return raw;
}

std::wstring ProductFolderPath() { return JoinPath(JoinPath(LocalAppDataPath(), L"Programs"), L"Tavro"); }

std::wstring ReceiptFolderPath() {
    return JoinPath(JoinPath(LocalAppDataPath(), L"TavroInstaller"), L"receipts");
}

std::wstring ModulePath(HMODULE module) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0) ThrowLastError("GetModuleFileNameW");
        // A full buffer means the path was cut; the call does not say how long it is.
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 65536) DemoFail("Module path too long");
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace tavro::demo
