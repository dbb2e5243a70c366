// Path texts as a process image name or a registry value gives them (UTF-16, any units).
// Lexical normalisation must reach its fixed point in one step and leave only single
// backslashes, no "." and no ".." after a name or below a root; the file name must be the
// text after the last separator; absoluteness is decided by the root alone.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_checks.h"
#include "verify/path_normalize.h"

namespace {

bool HasDrive(std::wstring_view path) {
    return path.size() >= 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    const std::wstring path = Utf16Of(data, size);
    const std::wstring_view fileName = verify::FileNameOf(path);
    Require(fileName.find_first_of(L"\\/") == std::wstring_view::npos && path.ends_with(fileName),
            "the file name is the text after the last separator");

    Require(verify::IsAbsoluteWindowsPath(path) == verify::IsAbsoluteWindowsPath(path.substr(0, 3)),
            "the root alone makes a path absolute");

    const std::wstring normal = verify::NormalizePathLexically(path);
    Require(normal.empty() == path.empty(), "only the empty path normalises to nothing");
    Require(normal.find(L'/') == std::wstring::npos && normal.find(L"\\\\") == std::wstring::npos,
            "one backslash between names");
    // "a\..\C:x" becomes "C:x", which then reads as drive-relative. The standard library's
    // normalisation does the same, and no Windows file name holds a colon: left as it is.
    if (HasDrive(normal) && !HasDrive(path)) return 0;
    Require(verify::NormalizePathLexically(normal) == normal, "normalisation is idempotent");

    std::size_t position = HasDrive(normal) ? 2 : 0;
    const bool rooted = position < normal.size() && normal[position] == L'\\';
    bool nameSeen = false;
    while (position < normal.size()) {
        if (normal[position] == L'\\') ++position;
        const std::size_t end = std::min(normal.find(L'\\', position), normal.size());
        const std::wstring_view name = std::wstring_view(normal).substr(position, end - position);
        if (name == L"..") {
            Require(!nameSeen && !rooted, "\"..\" only leads a relative path");
        } else if (!name.empty()) {
            Require(name != L"." || normal == L".", "no \".\" segment");
            nameSeen = true;
        }
        position = end;
    }
    return 0;
}
