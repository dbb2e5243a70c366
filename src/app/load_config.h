#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro::app {

// IMAGE_LOAD_CONFIG_DIRECTORY64 up to GuardEHContinuationCount, the 280 bytes that
// Windows 10's loader reads (the mingw-w64 headers know only the first 112, without
// DependentLoadFlags).
struct ImageLoadConfig64 {
    std::uint32_t Size;
    std::uint32_t TimeDateStamp;
    std::uint16_t MajorVersion;
    std::uint16_t MinorVersion;
    std::uint32_t GlobalFlagsClear;
    std::uint32_t GlobalFlagsSet;
    std::uint32_t CriticalSectionDefaultTimeout;
    std::uint64_t DeCommitFreeBlockThreshold;
    std::uint64_t DeCommitTotalFreeThreshold;
    std::uint64_t LockPrefixTable;
    std::uint64_t MaximumAllocationSize;
    std::uint64_t VirtualMemoryThreshold;
    std::uint64_t ProcessAffinityMask;
    std::uint32_t ProcessHeapFlags;
    std::uint16_t CSDVersion;
    std::uint16_t DependentLoadFlags;
    std::uint64_t EditList;
    std::uint64_t* SecurityCookie;
    // SEHandlerTable to GuardEHContinuationCount: no handler table, no guard, no metadata.
    std::uint64_t unused[23];
};
static_assert(offsetof(ImageLoadConfig64, DependentLoadFlags) == 0x4E);
static_assert(offsetof(ImageLoadConfig64, SecurityCookie) == 0x58);
static_assert(sizeof(ImageLoadConfig64) == 0x118);

// The cookie the load configuration names. No code checks it (GCC's stack protector keeps
// its own guard); it exists because a loader expects a configuration that names a cookie
// to name a writable one holding the default value, which it then replaces.
extern std::uint64_t loaderSecurityCookie;

}  // namespace tavro::app

// The name the Windows linker gives the load configuration. GNU ld does not point data
// directory 10 at it: the post-link step does (tavro-load-config).
extern "C" const tavro::app::ImageLoadConfig64 _load_config_used;
