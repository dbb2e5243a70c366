#pragma once

#include <string>

#include "platform/win_handles.h"

namespace tavro::verify {

// True when a running process's executable file name equals `fileName`, ignoring case.
// Throws "Cannot inspect running applications" when no process snapshot can be taken.
bool IsProcessNameRunning(const std::wstring& fileName);

// True when a process that has not exited was started from exactly this executable (both
// paths normalised lexically, compared ignoring case). Never throws: processes that cannot
// be opened or queried, and a failed snapshot, count as no match.
bool IsProcessRunningFromPath(const std::wstring& path);

// The same search, for a process to wait for: a handle with the rights to wait on it and to
// read its exit code (SYNCHRONIZE, PROCESS_QUERY_LIMITED_INFORMATION), which keeps that code
// readable after the process ends. Empty when no process matches or it cannot be opened so.
UniqueKernelHandle OpenProcessRunningFromPath(const std::wstring& path);

}  // namespace tavro::verify
