#include "module_version_win.h"

#include <windows.h>

#include <vector>

#include "demo_errors_win.h"

namespace tavro::demo {

std::wstring ReadProductVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) ThrowLastError("GetFileVersionInfoSizeW");
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) ThrowLastError("GetFileVersionInfoW");
    void* root = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &root, &length) || root == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        DemoFail("The version resource has no fixed file information");
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
    return std::to_wstring(HIWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwProductVersionLS));
}

}  // namespace tavro::demo
