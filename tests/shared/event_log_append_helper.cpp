// Appends events to the journal from a process of its own, so a test can have two
// processes append at once. Arguments: event name, line count, a semaphore to release
// once ready, and an event to wait for before the first line.

#include <windows.h>

#include <cwchar>
#include <string>

#include "cache/payload_cache.h"
#include "platform/text.h"
#include "platform/win_handles.h"
#include "shared/event_log.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const std::string name = tavro::WideToUtf8(argv[1]);
    const long count = std::wcstol(argv[2], nullptr, 10);
    const tavro::UniqueKernelHandle ready(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, argv[3]));
    const tavro::UniqueKernelHandle go(OpenEventW(SYNCHRONIZE, FALSE, argv[4]));
    if (!ready || !go) return 3;
    tavro::SetJournalFolder(&tavro::cache::OpenPayloadCache);
    // The first cache lookup loads the shell; done before the start, it cannot leave one
    // writer still loading while the other appends alone.
    try {
        tavro::cache::OpenPayloadCache();
    } catch (...) {
        return 6;
    }
    if (!ReleaseSemaphore(ready.get(), 1, nullptr)) return 4;
    if (WaitForSingleObject(go.get(), 120000) != WAIT_OBJECT_0) return 5;
    for (long i = 0; i < count; ++i) tavro::WriteEvent(name.c_str());
    return 0;
}
