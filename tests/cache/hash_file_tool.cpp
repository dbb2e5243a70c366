// Hashes one file the way the installer does and reports time and memory:
//   hash_file_tool <path>
// prints the digest, the milliseconds spent in the hash, and the process's peak
// working set and peak private bytes before and after.

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "cache/file_digest.h"
#include "platform/text.h"
#include "platform/win_handles.h"

namespace {

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hash_file_tool <path>\n");
        return 2;
    }
    try {
        const tavro::UniqueFile file(CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            std::fprintf(stderr, "cannot open the file (error %lu)\n", GetLastError());
            return 1;
        }
        const PROCESS_MEMORY_COUNTERS before = Memory();
        const auto start = std::chrono::steady_clock::now();
        const std::wstring digest = tavro::cache::HashFileSha512(file.get());
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const PROCESS_MEMORY_COUNTERS after = Memory();

        std::printf("digest %s\n", tavro::WideToUtf8(digest).c_str());
        std::printf("hash_ms %lld\n", static_cast<long long>(
                                          std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
        std::printf("peak_working_set_before %zu\n", static_cast<size_t>(before.PeakWorkingSetSize));
        std::printf("peak_working_set_after %zu\n", static_cast<size_t>(after.PeakWorkingSetSize));
        std::printf("peak_private_before %zu\n", static_cast<size_t>(before.PeakPagefileUsage));
        std::printf("peak_private_after %zu\n", static_cast<size_t>(after.PeakPagefileUsage));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        return 1;
    }
}
