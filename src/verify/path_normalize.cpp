#include "verify/path_normalize.h"

#include <vector>

namespace tavro::verify {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// The length of the root name: a drive ("C:"). Leading separators, doubled or not, are
// the root directory and collapse like any other run.
size_t RootNameLength(std::wstring_view path) {
    return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':' ? 2 : 0;
}

}  // namespace

bool IsAbsoluteWindowsPath(std::wstring_view path) {
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) return true;
    return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

std::wstring NormalizePathLexically(std::wstring_view path) {
    if (path.empty()) return {};
    const size_t rootNameLength = RootNameLength(path);
    std::wstring result(path.substr(0, rootNameLength));
    size_t position = rootNameLength;
    const bool hasRootDirectory = position < path.size() && IsSeparator(path[position]);
    while (position < path.size() && IsSeparator(path[position])) ++position;

    std::vector<std::wstring_view> names;
    bool trailingSeparator = false;
    while (position < path.size()) {
        const size_t start = position;
        while (position < path.size() && !IsSeparator(path[position])) ++position;
        const std::wstring_view name = path.substr(start, position - start);
        const bool followedBySeparator = position < path.size();
        while (position < path.size() && IsSeparator(path[position])) ++position;

        if (name == L".") {
            trailingSeparator = true;
        } else if (name == L"..") {
            if (!names.empty() && names.back() != L"..") {
                names.pop_back();
                trailingSeparator = true;
            } else if (names.empty() && hasRootDirectory) {
                trailingSeparator = false;  // nothing above the root
            } else {
                names.push_back(name);
                trailingSeparator = false;
            }
        } else {
            names.push_back(name);
            trailingSeparator = followedBySeparator;
        }
    }

    if (hasRootDirectory) result += L'\\';
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) result += L'\\';
        result += names[i];
    }
    if (!names.empty() && trailingSeparator && names.back() != L"..") result += L'\\';
    if (result.empty()) result = L".";
    return result;
}

std::wstring_view FileNameOf(std::wstring_view path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

}  // namespace tavro::verify
