// Benchmark driver (not a test): downloads one URL into a file with the installer's own
// download code in file mode, resuming whatever the file already holds, then hashes it
// with the installer's digest code, and reports times and the peak working set.
// Usage: fetch_benchmark.exe URL FILE EXPECTED_SIZE [VALIDATOR]
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "app/installer_config.h"
#include "cache/file_digest.h"
#include "net/fetch_url.h"
#include "platform/text.h"
#include "platform/win_handles.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: fetch_benchmark URL FILE EXPECTED_SIZE [VALIDATOR]\n");
        return 2;
    }
    try {
        tavro::LoadInstallerConfig();
        const std::wstring url = argv[1];
        const std::uint64_t expected = std::wcstoull(argv[3], nullptr, 10);
        const std::wstring validator = argc > 4 ? argv[4] : L"";
        const tavro::UniqueFile file(CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) throw std::runtime_error("cannot open the output file");
        LARGE_INTEGER before{};
        GetFileSizeEx(file.get(), &before);

        const auto start = std::chrono::steady_clock::now();
        std::wstring etag;
        tavro::net::FetchUrl(url, file.get(), expected, validator, &etag);
        const auto fetched = std::chrono::steady_clock::now();
        const std::wstring digest = tavro::cache::HashFileSha512(file.get());
        const auto hashed = std::chrono::steady_clock::now();

        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        using Seconds = std::chrono::duration<double>;
        std::printf("resumed_from %lld\nfetch_seconds %.3f\nhash_seconds %.3f\npeak_working_set %zu\netag %s\nsha512 %s\n",
                    static_cast<long long>(before.QuadPart), Seconds(fetched - start).count(),
                    Seconds(hashed - fetched).count(), static_cast<size_t>(counters.PeakWorkingSetSize),
                    tavro::WideToUtf8(etag).c_str(), tavro::WideToUtf8(digest).c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fetch_benchmark: %s\n", e.what());
        return 1;
    }
}
