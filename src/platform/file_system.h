#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tavro {

// A failed file-system operation: the message names the operation ("create_directories",
// "status", "directory_iterator::directory_iterator", ...), the system's text for the
// error and the path, as the standard library's file-system errors do. The installer
// uses the plain Win32 calls instead of <filesystem>, whose locale machinery would
// triple the size of the program.
class FileSystemError : public std::runtime_error {
public:
    FileSystemError(const char* operation, const std::wstring& path, DWORD error);
    DWORD error() const noexcept { return error_; }

private:
    DWORD error_;
};

// `folder` and `name` joined with one backslash, as appending to a path does: none after
// a separator or a bare drive ("C:" and "x" give the drive-relative "C:x").
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// Creates the folder and its missing parents; an existing folder is fine. Throws
// FileSystemError("create_directories") otherwise, a file in the way included.
void CreateDirectories(const std::wstring& path);

enum class FileKind { NotFound, Regular, Directory, Other };

// What the path names, following links. Throws FileSystemError("status") when the
// system cannot tell (a missing file or folder on the way is NotFound).
FileKind QueryFileKind(const std::wstring& path);

// Calls `visit` with the name of every entry of a folder but "." and "..". Throws
// FileSystemError("directory_iterator::directory_iterator") when the folder cannot be
// listed and FileSystemError("directory_iterator::operator++") when the listing breaks.
void ForEachDirectoryEntry(const std::wstring& folder, const std::function<void(const std::wstring&)>& visit);

// Removes a file; true when it is gone, also when it was not there.
bool RemoveFile(const std::wstring& path) noexcept;

// The file's bytes, at most `limit` of them; false when it cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes, std::size_t limit);

// Replaces the file with these bytes; false on any failure.
bool WriteFileBytes(const std::wstring& path, std::string_view bytes) noexcept;

// What makes a file the same file whatever path reaches it (a link or junction in front,
// a short 8.3 name, another spelling): its volume's serial number and its index there.
struct FileIdentity {
    DWORD volumeSerial = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file or folder that the path names, following links; nothing when it
// cannot be opened (missing, refused) or queried.
std::optional<FileIdentity> IdentifyFile(const std::wstring& path) noexcept;

// Whether some process keeps writers out of the file: an open for writing that admits every
// other kind of sharing is refused with a sharing violation. A program running from the
// file does that (its image is mapped), and so does a reader that shares for reading only.
bool IsFileHeldAgainstWriters(const std::wstring& path) noexcept;

}  // namespace tavro
