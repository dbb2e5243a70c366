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

// A process that has not exited and runs the very file that `path` names, whatever path
// started it (a link or junction in front, a short name, another spelling): file identity,
// not path text, decides. The handle has the rights to wait on the process and to read its
// exit code (SYNCHRONIZE, PROCESS_QUERY_LIMITED_INFORMATION), which keeps that code readable
// after the process ends. Empty when the file cannot be identified, no process runs it, or
// the one that does cannot be opened so (another user's, a higher integrity level's).
UniqueKernelHandle OpenProcessRunningFile(const std::wstring& path);

}  // namespace tavro::verify
