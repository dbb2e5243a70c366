#pragma once

#include <string>
#include <string_view>

namespace tavro::verify {

// Lexical normalisation of a Windows path, on the text only: every run of "/" and "\"
// becomes one "\" (the leading one of a UNC name too), "." segments go, a ".." goes with
// the name before it, ".." right after the root goes, "" becomes ".".
std::wstring NormalizePathLexically(std::wstring_view path);

// Whether Windows takes the path as absolute: a drive letter, a colon and a separator
// (C:\...), or two separators and a name (a UNC server \\server\..., or a device prefix
// \\?\... and \\.\...). Drive-relative (C:x), rooted (\x) and relative paths are not.
bool IsAbsoluteWindowsPath(std::wstring_view path);

// The last component of a path (after the last "\" or "/").
std::wstring_view FileNameOf(std::wstring_view path);

}  // namespace tavro::verify
