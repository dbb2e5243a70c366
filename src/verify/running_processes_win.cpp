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

// The first process that has not exited, whose snapshot entry passes `named` and whose image
// path passes `runs`, opened with `access` (which must include PROCESS_QUERY_LIMITED_INFORMATION).
UniqueKernelHandle OpenFirstProcess(DWORD access, const std::function<bool(const PROCESSENTRY32W&)>& named,
                                    const std::function<bool(const std::wstring&)>& runs) {
    const UniqueKernelHandle snapshot = TakeSnapshot();
    if (!snapshot) return {};
    std::vector<wchar_t> image(32768);
    UniqueKernelHandle found;
    AnyProcess(snapshot.get(), [&](const PROCESSENTRY32W& entry) {
        if (!named(entry)) return false;
        UniqueKernelHandle process(OpenProcess(access, FALSE, entry.th32ProcessID));
        if (!process || !StillRunning(process.get())) return false;
        DWORD size = static_cast<DWORD>(image.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return false;
        if (!runs(std::wstring(image.data(), size))) return false;
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
    const std::wstring target = NormalizePathLexically(path);
    const std::wstring_view targetName = FileNameOf(target);
    return static_cast<bool>(OpenFirstProcess(
        PROCESS_QUERY_LIMITED_INFORMATION,
        [&](const PROCESSENTRY32W& entry) { return EqualsIgnoringCase(entry.szExeFile, targetName); },
        [&](const std::wstring& image) { return EqualsIgnoringCase(NormalizePathLexically(image), target); }));
}

UniqueKernelHandle OpenProcessRunningFile(const std::wstring& path) {
    const std::optional<FileIdentity> target = IdentifyFile(path);
    if (!target) return {};
    // Every process, whatever its name: one started through a short name has that name here.
    return OpenFirstProcess(
        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, [](const PROCESSENTRY32W&) { return true; },
        [&](const std::wstring& image) { return IdentifyFile(image) == target; });
}

}  // namespace tavro::verify
