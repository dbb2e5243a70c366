#pragma once

#include <string>
#include <string_view>

namespace tavro::verify {

// Lexical normalisation of a Windows path, on the text only: runs of "/" and "\" become
// one "\" (a root name keeps its own separators, as backslashes), "." segments go, a
// ".." goes with the name before it, ".." right after the root goes, "" becomes ".".
std::wstring NormalizePathLexically(std::wstring_view path);

// The last component of a path (after the last "\" or "/").
std::wstring_view FileNameOf(std::wstring_view path);

}  // namespace tavro::verify
