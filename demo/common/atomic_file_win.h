#pragma once

#include <string>
#include <string_view>

namespace tavro::demo {

// Writes the bytes to a temporary file beside the target and moves it over the
// target, so a reader sees either no file, the old one or the complete new one.
// The temporary file is removed again when any step fails.
void WriteFileAtomically(const std::wstring& path, std::string_view bytes);

// Copies a file to the target through the same temporary-file-and-move route.
void CopyFileAtomically(const std::wstring& source, const std::wstring& path);

}  // namespace tavro::demo
