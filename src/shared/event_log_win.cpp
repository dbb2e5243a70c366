#include "shared/event_log.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "platform/unique_handle.h"
#include "platform/win_handles.h"
#include "shared/event_line.h"

namespace tavro {

namespace {

// A journal above this size is started afresh before the next append.
constexpr std::uint64_t kJournalSizeLimit = 1000000;

// Set at start-up, before any worker exists.
std::atomic<std::wstring (*)()> journalFolder{nullptr};

struct CrtDescriptorTraits {
    using Handle = int;
    static Handle Invalid() { return -1; }
    static bool IsValid(Handle fd) { return fd >= 0; }
    static void Close(Handle fd) {
        detail::LastErrorKeeper keep;
        _close(fd);
    }
};

struct StdioStreamTraits {
    using Handle = std::FILE*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle stream) { return stream != nullptr; }
    static void Close(Handle stream) {
        detail::LastErrorKeeper keep;
        std::fclose(stream);
    }
};

using UniqueCrtDescriptor = UniqueHandle<CrtDescriptorTraits>;
using UniqueStdioStream = UniqueHandle<StdioStreamTraits>;

// Serialises appends across processes. The byte is far beyond any journal's end, so
// the lock never blocks a reader or a writer of the data itself.
class AppendLock {
public:
    explicit AppendLock(HANDLE file) : file_(file) {
        region_.Offset = 0xFFFFFFFE;
        region_.OffsetHigh = 0x7FFFFFFF;
        locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region_) != FALSE;
    }
    ~AppendLock() {
        if (locked_) UnlockFileEx(file_, 0, 1, 0, &region_);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

private:
    HANDLE file_;
    OVERLAPPED region_{};
    bool locked_ = false;
};

// Appends the line through a text-mode stream in one write.
//
// Windows appends atomically only for a handle that may append but not write, so the
// stream sits on such a handle. Wine does not: it stats the file and writes at the
// size it saw, and two processes appending at once overwrite each other's lines. The
// exclusive lock closes that gap on both. Reading access is there because LockFileEx
// refuses a handle that can neither read nor write data.
void AppendLine(const std::wstring& path, const std::string& line) {
    UniqueFile file(CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const HANDLE raw = file.get();
    // The stream takes the descriptor, the descriptor the handle; each owner lets go only
    // once the next one holds it. The lock is released before any of them closes.
    UniqueCrtDescriptor descriptor;
    UniqueStdioStream stream;
    const AppendLock lock(raw);

    descriptor.reset(_open_osfhandle(reinterpret_cast<intptr_t>(raw), _O_APPEND | _O_TEXT));
    if (!descriptor) return;
    (void)file.release();
    stream.reset(_fdopen(descriptor.get(), "at"));
    if (!stream) return;
    (void)descriptor.release();

    // The line is far shorter than the stream's buffer: the flush is the one write.
    std::fputs(line.c_str(), stream.get());
    std::fflush(stream.get());
}

}  // namespace

std::int64_t CurrentUnixMillis() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t units =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return FileTimeToUnixMillis(units);
}

void SetJournalFolder(std::wstring (*folder)()) {
    journalFolder.store(folder);
}

void WriteEvent(const char* name, std::uint32_t httpStatus, std::string_view tlsFailure) noexcept {
    const auto folder = journalFolder.load();
    if (name == nullptr || folder == nullptr) return;
    try {
        const std::wstring path = JoinPath(folder(), L"events.jsonl");

        // A junction or link here could redirect the append or the deletion elsewhere.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
            const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            // A journal that cannot be started afresh loses the event instead of growing.
            if (size > kJournalSizeLimit && !RemoveFile(path)) return;
        }

        AppendLine(path, FormatEventLine(name, CurrentUnixMillis(), httpStatus, tlsFailure));
    } catch (...) {
        // The journal is best effort: a lost event must never fail the installer.
    }
}

}  // namespace tavro
