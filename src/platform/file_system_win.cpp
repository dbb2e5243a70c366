#include "platform/file_system.h"

#include <algorithm>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "platform/win_handles.h"

namespace tavro {

namespace {

struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) {
        detail::LastErrorKeeper keep;
        FindClose(h);
    }
};
using UniqueFind = UniqueHandle<FindTraits>;

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::string Describe(const char* operation, const std::wstring& path, DWORD error) {
    return std::string("filesystem error: ") + operation + ": " +
           PlatformMessageText(HresultFromWin32(error)) + " [" + WideToUtf8(path) + "]";
}

}  // namespace

FileSystemError::FileSystemError(const char* operation, const std::wstring& path, DWORD error)
    : std::runtime_error(Describe(operation, path, error)), error_(error) {}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    // A bare drive ("C:") stays drive-relative, as appending to a path does.
    const bool bareDrive = path.size() == 2 && path[1] == L':';
    if (!path.empty() && !IsSeparator(path.back()) && !bareDrive) path += L'\\';
    path += name;
    return path;
}

void CreateDirectories(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
        throw FileSystemError("create_directories", path, ERROR_ALREADY_EXISTS);
    }
    // The parent first; a root or drive ("C:\") has none to make.
    std::size_t end = path.size();
    while (end > 0 && IsSeparator(path[end - 1])) --end;
    const std::size_t cut = path.find_last_of(L"\\/", end == 0 ? 0 : end - 1);
    if (cut != std::wstring::npos && cut > 0 && path[cut - 1] != L':' && !IsSeparator(path[cut - 1])) {
        CreateDirectories(path.substr(0, cut));
    }
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        const DWORD now = GetFileAttributesW(path.c_str());
        // Made meanwhile by someone else: as good as made here.
        if (error == ERROR_ALREADY_EXISTS && now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY)) return;
        throw FileSystemError("create_directories", path, error);
    }
}

static FileKind KindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? FileKind::Other : FileKind::Regular;
}

FileKind QueryFileKind(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (IsMissing(error)) return FileKind::NotFound;
        throw FileSystemError("status", path, error);
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return KindOf(attributes);
    // A link: what counts is the kind of its target, which only an open reaches.
    const UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (IsMissing(error)) return FileKind::NotFound;
        throw FileSystemError("status", path, error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) throw FileSystemError("status", path, GetLastError());
    return KindOf(info.dwFileAttributes);
}

void ForEachDirectoryEntry(const std::wstring& folder, const std::function<void(const std::wstring&)>& visit) {
    WIN32_FIND_DATAW data{};
    const UniqueFind find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
    if (!find) {
        throw FileSystemError("directory_iterator::directory_iterator", folder, GetLastError());
    }
    for (;;) {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") visit(name);
        if (!FindNextFileW(find.get(), &data)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) return;
            throw FileSystemError("directory_iterator::operator++", folder, error);
        }
    }
}

bool RemoveFile(const std::wstring& path) noexcept {
    return DeleteFileW(path.c_str()) || IsMissing(GetLastError());
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes, std::size_t limit) {
    bytes.clear();
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::vector<char> buffer(65536);
    while (bytes.size() < limit) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), limit - bytes.size()));
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), wanted, &read, nullptr)) return false;
        if (read == 0) break;
        bytes.append(buffer.data(), read);
    }
    return true;
}

bool WriteFileBytes(const std::wstring& path, std::string_view bytes) noexcept {
    const UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::optional<FileIdentity> IdentifyFile(const std::wstring& path) noexcept {
    // Attributes only: no access that a running program's image or a reader could refuse.
    const UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool IsFileHeldAgainstWriters(const std::wstring& path) noexcept {
    const UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return !file && GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace tavro
