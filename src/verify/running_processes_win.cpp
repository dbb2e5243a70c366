#include "verify/running_processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/file_system.h"
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

// An exited process can linger in the snapshot while handles to it stay open.
bool StillRunning(HANDLE process) {
    DWORD exitCode = 0;
    return !GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE;
}

UniqueKernelHandle TakeSnapshot() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return UniqueKernelHandle(snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot);
}

// The first process that has not exited and was started from `path`, as path text.
UniqueKernelHandle OpenProcessFromPath(const std::wstring& path) {
    const UniqueKernelHandle snapshot = TakeSnapshot();
    if (!snapshot) return {};
    const std::wstring target = NormalizePathLexically(path);
    const std::wstring_view targetName = FileNameOf(target);
    std::vector<wchar_t> image(32768);
    UniqueKernelHandle found;
    AnyProcess(snapshot.get(), [&](const PROCESSENTRY32W& entry) {
        if (!EqualsIgnoringCase(entry.szExeFile, targetName)) return false;
        UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) return false;
        if (!StillRunning(process.get())) return false;
        DWORD size = static_cast<DWORD>(image.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return false;
        if (!EqualsIgnoringCase(NormalizePathLexically({image.data(), size}), target)) return false;
        found = std::move(process);
        return true;
    });
    return found;
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
    return static_cast<bool>(OpenProcessFromPath(path));
}

UniqueKernelHandle OpenProcessRunningFile(const std::wstring& path) {
    const std::optional<FileIdentity> target = IdentifyFile(path);
    if (!target) return {};
    const UniqueKernelHandle snapshot = TakeSnapshot();
    if (!snapshot) return {};
    std::vector<wchar_t> image(32768);
    UniqueKernelHandle found;
    // Every process, whatever its name: one started through a short name has that name here.
    AnyProcess(snapshot.get(), [&](const PROCESSENTRY32W& entry) {
        UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                               entry.th32ProcessID));
        if (!process || !StillRunning(process.get())) return false;
        DWORD size = static_cast<DWORD>(image.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return false;
        if (IdentifyFile({image.data(), size}) != target) return false;
        found = std::move(process);
        return true;
    });
    return found;
}

}  // namespace tavro::verify
