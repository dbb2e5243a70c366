#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tavro::demo {

// The application's executable file name, as the installer looks for it.
inline constexpr std::wstring_view kAppFileName = L"Tavro.exe";
// The uninstaller that the setup leaves next to the application.
inline constexpr std::wstring_view kUninstallerFileName = L"Uninstall Tavro.exe";

// Joins a folder and a name with exactly one backslash between them.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// The user's LocalAppData folder (known folder, not the environment variable).
std::wstring LocalAppDataPath();

// Where the setup installs the application: LocalAppData\Programs\Tavro.
std::wstring ProductFolderPath();

// The installer's launch receipt folder: LocalAppData\TavroInstaller\receipts.
std::wstring ReceiptFolderPath();

// The full path of a loaded module (the running program for nullptr), whatever its length.
std::wstring ModulePath(HMODULE module = nullptr);

}  // namespace tavro::demo
