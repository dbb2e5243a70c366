#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace tavro::testing {

// Ids of the running processes whose executable is named `fileName` (ignoring case) and,
// when `imagePath` is given, whose full image path is exactly that (ignoring case).
std::vector<DWORD> ProcessIds(const std::wstring& fileName, const std::wstring& imagePath = L"");

// Waits up to `wait` for those processes to end on their own, then terminates what is left,
// by id. Returns how many had to be terminated.
int StopProcesses(const std::wstring& fileName, const std::wstring& imagePath, std::chrono::milliseconds wait);

}  // namespace tavro::testing
