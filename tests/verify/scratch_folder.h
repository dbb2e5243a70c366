#pragma once

#include <string>
#include <string_view>

namespace tavro::verify::testing {

// A fresh folder under the temporary folder for one test, removed with all it holds when
// the object goes, also when the test fails. Only for plain files and folders that the
// test made itself: Wine deletes through a Unix link, so no link may be put inside.
class ScratchFolder {
public:
    // Creates %TEMP%\tavro-verify-<label>-<pid>-<n>-<ticks>; throws std::runtime_error.
    explicit ScratchFolder(std::wstring_view label);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder's full path, without a trailing backslash.
    const std::wstring& Path() const { return path_; }
    // Creates <Path>\<relative> with its parents; returns its full path.
    std::wstring MakeFolder(std::wstring_view relative) const;
    // Copies a file to <Path>\<relative>, creating the folders on the way; returns the copy's path.
    std::wstring CopyInto(const std::wstring& source, std::wstring_view relative) const;

private:
    std::wstring path_;
};

// The path with every forward slash turned into a backslash, the form that uninstall
// records and process image names use.
std::wstring BackslashPath(std::wstring path);

}  // namespace tavro::verify::testing
