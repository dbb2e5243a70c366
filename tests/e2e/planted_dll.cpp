// A DLL that only reports that it was loaded: copied beside the installer under the name
// of a DLL the installer (or a system DLL it uses) needs, it leaves the file
// <TAVRO_PLANTED_MARKERS>\<its own file name>.<process id>.loaded holding the path of the
// program that loaded it (UTF-8), so that a test can tell the installer from Wine's own
// helper processes, which inherit the folder and the DLL overrides.
// Only kernel32 calls: this runs under the loader lock.
#include <windows.h>

namespace {

const wchar_t* FileName(const wchar_t* path) {
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        if (*c == L'\\' || *c == L'/') name = c + 1;
    }
    return name;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    wchar_t module[MAX_PATH] = {};
    wchar_t program[MAX_PATH] = {};
    const DWORD folderLength = GetEnvironmentVariableW(L"TAVRO_PLANTED_MARKERS", path, MAX_PATH - 1);
    const DWORD moduleLength = GetModuleFileNameW(self, module, MAX_PATH);
    const DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH - 1 || moduleLength == 0 || moduleLength >= MAX_PATH ||
        programLength == 0 || programLength >= MAX_PATH) {
        return TRUE;
    }
    wchar_t pid[12] = {};
    int digits = 0;
    for (DWORD id = GetCurrentProcessId(); digits == 0 || id != 0; id /= 10) pid[digits++] = static_cast<wchar_t>(L'0' + id % 10);
    for (int i = 0; i < digits / 2; ++i) {
        const wchar_t c = pid[i];
        pid[i] = pid[digits - 1 - i];
        pid[digits - 1 - i] = c;
    }
    const wchar_t* name = FileName(module);
    if (lstrlenW(path) + 1 + lstrlenW(name) + 1 + digits + 7 >= MAX_PATH) return TRUE;
    lstrcatW(path, L"\\");
    lstrcatW(path, name);
    lstrcatW(path, L".");
    lstrcatW(path, pid);
    lstrcatW(path, L".loaded");
    char text[MAX_PATH * 3] = {};
    const int textLength = WideCharToMultiByte(CP_UTF8, 0, program, -1, text, sizeof text, nullptr, nullptr);
    const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return TRUE;
    DWORD written = 0;
    if (textLength > 1) WriteFile(marker, text, static_cast<DWORD>(textLength - 1), &written, nullptr);
    CloseHandle(marker);
    return TRUE;
}
