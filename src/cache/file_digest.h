#pragma once

#include <windows.h>

#include <string>

namespace tavro::cache {

// SHA-512 of the whole content of a file open for reading, as 128 lower-case hex digits;
// reads from byte 0 whatever the file pointer was, and leaves the pointer at the end.
std::wstring HashFileSha512(HANDLE file);

}  // namespace tavro::cache
