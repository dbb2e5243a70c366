#pragma once

#include <string>

namespace tavro::verify {

// The product version of a file's version resource as "major.minor.build" (the fourth
// part is dropped); throws when the file has no usable fixed-size version block.
std::wstring ReadApplicationVersion(const std::wstring& path);

}  // namespace tavro::verify
