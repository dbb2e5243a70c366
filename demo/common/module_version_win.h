#pragma once

#include <string>

namespace tavro::demo {

// The product version of a file as major.minor.build: the high and low words of
// dwProductVersionMS and the high word of dwProductVersionLS of its VS_FIXEDFILEINFO,
// the same three numbers the installer compares. Throws when the file has none.
std::wstring ReadProductVersion(const std::wstring& path);

}  // namespace tavro::demo
