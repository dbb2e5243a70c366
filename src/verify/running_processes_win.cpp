#include "verify/running_processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "verify/path_normalize.h"

namespace tavro::verify {

namespace {

// Calls `visit` for each process entry until it returns true; false when the first
// entry cannot be read or no entry was accepted.
bool AnyProcess(HANDLE snapshot, const std::function<bool(const PROCESSENTRY32W&)>& visit) {
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (visit(entry)) return true;
    }
    return false;
}

UniqueKernelHandle TakeSnapshot() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return UniqueKernelHandle(snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot);
}

}  // namespace

bool IsProcessNameRunning(const std::wstring& fileName) {
    const UniqueKernelHandle snapshot = TakeSnapshot();
    if (!snapshot) Fail("Cannot inspect running applications");
    return AnyProcess(snapshot.get(), [&](const PROCESSENTRY32W& entry) {
        return EqualsIgnoringCase(entry.szExeFile, fileName);
    });
}

bool IsProcessRunningFromPath(const std::wstring& path) {
    const UniqueKernelHandle snapshot = TakeSnapshot();
    if (!snapshot) return false;
    const std::wstring target = NormalizePathLexically(path);
    const std::wstring_view targetName = FileNameOf(target);
    std::vector<wchar_t> image(32768);
    return AnyProcess(snapshot.get(), [&](const PROCESSENTRY32W& entry) {
        if (!EqualsIgnoringCase(entry.szExeFile, targetName)) return false;
        const UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) return false;
        // An exited process can linger in the snapshot while handles to it stay open.
        DWORD exitCode = 0;
        if (GetExitCodeProcess(process.get(), &exitCode) && exitCode != STILL_ACTIVE) return false;
        DWORD size = static_cast<DWORD>(image.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return false;
        return EqualsIgnoringCase(NormalizePathLexically({image.data(), size}), target);
    });
}

}  // namespace tavro::verify
