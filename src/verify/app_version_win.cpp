#include "verify/app_version.h"

#include <windows.h>

#include <vector>

#include "platform/errors.h"
#include "platform/system_functions.h"

namespace tavro::verify {

namespace {

// A root block shorter than the fixed-size structure cannot be read field by field.
constexpr UINT kFixedFileInfoSize = 52;
static_assert(sizeof(VS_FIXEDFILEINFO) == kFixedFileInfoSize);

}  // namespace

std::wstring ReadApplicationVersion(const std::wstring& path) {
    const VersionFunctions& version = VersionDll();
    DWORD ignored = 0;
    // Zero both for a file without a version resource and for one that cannot be opened.
    const DWORD size = version.GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) Fail("Missing application version");

    std::vector<BYTE> block(size);
    if (!version.GetFileVersionInfoW(path.c_str(), 0, size, block.data())) {
        Fail("Cannot read application version");
    }

    void* root = nullptr;
    UINT rootLength = 0;
    if (!version.VerQueryValueW(block.data(), L"\\", &root, &rootLength) || root == nullptr ||
        rootLength < kFixedFileInfoSize) {
        Fail("Invalid version information");
    }
    // The block's alignment is only guaranteed by the resource format, so copy the fields out.
    VS_FIXEDFILEINFO info;
    CopyMemory(&info, root, sizeof info);

    return std::to_wstring(HIWORD(info.dwProductVersionMS)) + L"." +
           std::to_wstring(LOWORD(info.dwProductVersionMS)) + L"." +
           std::to_wstring(HIWORD(info.dwProductVersionLS));
}

}  // namespace tavro::verify
