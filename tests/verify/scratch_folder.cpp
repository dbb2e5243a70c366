#include "scratch_folder.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/text.h"

namespace tavro::verify::testing {

ScratchFolder::ScratchFolder(std::wstring_view label) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
    path_ = std::wstring(temp) + L"tavro-verify-" + std::wstring(label) + L"-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64());
    if (!CreateDirectoryW(path_.c_str(), nullptr)) {
        throw std::runtime_error("cannot create " + WideToUtf8(path_));
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::wstring ScratchFolder::MakeFolder(std::wstring_view relative) const {
    const std::wstring folder = path_ + L"\\" + std::wstring(relative);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw std::runtime_error("cannot create " + WideToUtf8(folder) + ": " + error.message());
    return folder;
}

std::wstring ScratchFolder::CopyInto(const std::wstring& source, std::wstring_view relative) const {
    const std::wstring target = path_ + L"\\" + std::wstring(relative);
    const std::size_t slash = target.find_last_of(L'\\');
    std::error_code error;
    std::filesystem::create_directories(target.substr(0, slash), error);
    if (error || !CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + WideToUtf8(source) + " to " + WideToUtf8(target));
    }
    return target;
}

std::wstring BackslashPath(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

}  // namespace tavro::verify::testing
