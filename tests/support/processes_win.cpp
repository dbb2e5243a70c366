#include "support/processes.h"

#include <tlhelp32.h>

#include "platform/win_handles.h"

namespace tavro::testing {

std::vector<DWORD> ProcessIds(const std::wstring& fileName, const std::wstring& imagePath) {
    std::vector<DWORD> ids;
    const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, fileName.c_str()) != 0) continue;
        if (!imagePath.empty()) {
            const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
            wchar_t image[32768] = {};
            DWORD size = 32768;
            if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size) ||
                _wcsicmp(image, imagePath.c_str()) != 0) {
                continue;
            }
        }
        ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

int StopProcesses(const std::wstring& fileName, const std::wstring& imagePath, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::vector<DWORD> running = ProcessIds(fileName, imagePath);
    while (!running.empty() && std::chrono::steady_clock::now() < deadline) {
        Sleep(100);
        running = ProcessIds(fileName, imagePath);
    }
    for (const DWORD id : running) {
        const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process) continue;
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
    return static_cast<int>(running.size());
}

}  // namespace tavro::testing
