#pragma once

#include <string>
#include <string_view>

namespace tavro::verify {

// Lexical normalisation of a Windows path, on the text only: every run of "/" and "\"
// becomes one "\" (the leading one of a UNC name too), "." segments go, a ".." goes with
// the name before it, ".." right after the root goes, "" becomes ".".
std::wstring NormalizePathLexically(std::wstring_view path);

// The last component of a path (after the last "\" or "/").
std::wstring_view FileNameOf(std::wstring_view path);

}  // namespace tavro::verify
