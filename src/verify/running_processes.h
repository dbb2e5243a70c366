#pragma once

#include <string>

namespace tavro::verify {

// True when a running process's executable file name equals `fileName`, ignoring case.
// Throws "Cannot inspect running applications" when no process snapshot can be taken.
bool IsProcessNameRunning(const std::wstring& fileName);

// True when a process that has not exited was started from exactly this executable (both
// paths normalised lexically, compared ignoring case). Never throws: processes that cannot
// be opened or queried, and a failed snapshot, count as no match.
bool IsProcessRunningFromPath(const std::wstring& path);

}  // namespace tavro::verify
