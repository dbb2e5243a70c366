// A DLL that only reports that it was loaded: copied beside the installer under the name
// of a DLL the installer (or a system DLL it uses) needs, it leaves the file
// <TAVRO_PLANTED_MARKERS>\<its own file name>.loaded as proof that the copy was taken.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    wchar_t module[MAX_PATH] = {};
    const DWORD folderLength = GetEnvironmentVariableW(L"TAVRO_PLANTED_MARKERS", path, MAX_PATH - 1);
    const DWORD moduleLength = GetModuleFileNameW(self, module, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH - 1 || moduleLength == 0 || moduleLength >= MAX_PATH) return TRUE;
    const wchar_t* name = module;
    for (const wchar_t* c = module; *c != L'\0'; ++c) {
        if (*c == L'\\' || *c == L'/') name = c + 1;
    }
    if (lstrlenW(path) + 1 + lstrlenW(name) + 7 >= MAX_PATH) return TRUE;
    lstrcatW(path, L"\\");
    lstrcatW(path, name);
    lstrcatW(path, L".loaded");
    const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    return TRUE;
}
