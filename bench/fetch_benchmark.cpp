// Benchmark driver (not a test): downloads one URL into a file with the installer's own
// download code in file mode, resuming whatever the file already holds, then hashes it
// with the installer's digest code, and reports times and the peak working set.
// Usage: fetch_benchmark.exe URL FILE EXPECTED_SIZE [VALIDATOR]
//        fetch_benchmark.exe --raw URL: reads the body with bare WinHTTP calls into one
//        64 KiB buffer and nothing else, to show what the platform's stack costs alone.
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "cache/file_digest.h"
#include "net/fetch_url.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/installer_config.h"

namespace {

// The body through WinHTTP alone: no checks, no file, just reads.
int RawRead(const wchar_t* url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) return 1;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    using Internet = tavro::UniqueHandle<tavro::detail::ClosedBy<HINTERNET, &WinHttpCloseHandle>>;
    const Internet session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr, nullptr, 0));
    const Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    const Internet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, nullptr, nullptr,
                                              WINHTTP_FLAG_SECURE));
    const auto start = std::chrono::steady_clock::now();
    if (!request || !WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return 1;
    }
    std::string buffer(65536, '\0');
    unsigned long long total = 0, reads = 0;
    DWORD read = 0;
    while (WinHttpReadData(request.get(), buffer.data(), 65536, &read) && read > 0) {
        total += read;
        ++reads;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("raw_seconds %.3f\nraw_bytes %llu\nraw_reads %llu\nraw_bytes_per_read %.0f\n", seconds, total, reads,
                reads ? static_cast<double>(total) / reads : 0.0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--raw") return RawRead(argv[2]);
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
