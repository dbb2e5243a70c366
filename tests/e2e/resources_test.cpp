// What the shipped program carries: its manifest, icon, locale document and version,
// read from TavroInstaller.exe itself with the platform's resource functions.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win_handles.h"

namespace {

class ShippedResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_.reset(LoadLibraryExW(TAVRO_INSTALLER_PATH, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module_) << GetLastError();
    }

    std::string Bytes(const wchar_t* type, const wchar_t* name) const {
        const HRSRC resource = FindResourceW(module_.get(), name, type);
        if (resource == nullptr) return {};
        const HGLOBAL data = LoadResource(module_.get(), resource);
        return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(module_.get(), resource));
    }

    tavro::UniqueModule module_;
};

TEST_F(ShippedResources, ManifestAsksForWhatTheInstallerNeeds) {
    const std::string manifest = Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2<"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // Windows 10
}

TEST_F(ShippedResources, IconGroupHoldsEverySizeFrom16To256) {
    std::string group = Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(101));
    ASSERT_GE(group.size(), 6u);
    auto* bytes = reinterpret_cast<BYTE*>(group.data());
    for (const int size : {16, 24, 32, 48, 256}) {
        SCOPED_TRACE(size);
        const int id = LookupIconIdFromDirectoryEx(bytes, TRUE, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0);
        const HRSRC image = FindResourceW(module_.get(), MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_NE(image, nullptr);
        const HGLOBAL data = LoadResource(module_.get(), image);
        HICON icon = CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(data)), SizeofResource(module_.get(), image),
                                              TRUE, 0x00030000, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_F(ShippedResources, LocaleDocumentAndVersionAreThere) {
    EXPECT_GT(Bytes(RT_RCDATA, MAKEINTRESOURCEW(301)).size(), 1000u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(TAVRO_INSTALLER_PATH, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(TAVRO_INSTALLER_PATH, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), 0);
    EXPECT_EQ(HIWORD(fixed->dwProductVersionLS), 1);
}

}  // namespace
