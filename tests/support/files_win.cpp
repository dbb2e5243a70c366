#include "support/files.h"

#include <windows.h>

#include <stdexcept>

#include "platform/text.h"
#include "platform/win_handles.h"
#include "support/journal.h"

namespace tavro::testing {

std::string ReadFileBytes(const std::wstring& path) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot open " + WideToUtf8(path));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file) throw std::runtime_error("cannot create " + WideToUtf8(path));
    DWORD written = 0;
    if (!bytes.empty() &&
        (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size())) {
        throw std::runtime_error("cannot write " + WideToUtf8(path));
    }
}

std::string ReadFileIfPresent(const std::wstring& path) {
    try {
        return ReadFileBytes(path);
    } catch (const std::runtime_error&) {
        return "";
    }
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ReadJournal(const std::wstring& cacheDirectory) {
    return JournalEvents(ReadFileIfPresent(cacheDirectory + L"\\events.jsonl"));
}

}  // namespace tavro::testing
