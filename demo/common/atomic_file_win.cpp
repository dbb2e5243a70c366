#include "atomic_file_win.h"

#include <windows.h>

#include <algorithm>

#include "demo_errors_win.h"
#include "demo_handles_win.h"

namespace tavro::demo {

namespace {

// Unique per process and call, so two writers of one target never share a temporary.
std::wstring TemporaryPathFor(const std::wstring& path) {
    static LONG counter = 0;
    return path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L".tmp";
}

// Removes the temporary file unless the move has taken it over.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }
    void MoveTo(const std::wstring& target) {
        // WRITE_THROUGH: the call returns only once the new name is on disk.
        if (!MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            ThrowLastError("MoveFileExW");
        path_.clear();
    }

private:
    std::wstring path_;
};

}  // namespace

void WriteFileAtomically(const std::wstring& path, std::string_view bytes) {
    TemporaryFile temporary(TemporaryPathFor(path));
    {
        UniqueFile file(CreateFileW(temporary.path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) ThrowLastError("CreateFileW");
        size_t offset = 0;
        while (offset < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file.get(), bytes.data() + offset, chunk, &written, nullptr) || written == 0)
                ThrowLastError("WriteFile");
            offset += written;
        }
        if (!FlushFileBuffers(file.get())) ThrowLastError("FlushFileBuffers");
    }
    temporary.MoveTo(path);
}

void CopyFileAtomically(const std::wstring& source, const std::wstring& path) {
    TemporaryFile temporary(TemporaryPathFor(path));
    if (!CopyFileW(source.c_str(), temporary.path().c_str(), FALSE)) ThrowLastError("CopyFileW");
    temporary.MoveTo(path);
}

}  // namespace tavro::demo
