#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "pe_image.h"

namespace tavro::release {

// The DLLs the installer imports at load time, on purpose: known DLLs, which Windows
// never takes from the program's folder. Any other DLL is loaded at run time from System32.
inline constexpr std::string_view kKeptLoadTimeImports[] = {"advapi32.dll", "gdi32.dll",   "kernel32.dll",
                                                            "msvcrt.dll",   "ole32.dll",   "shell32.dll",
                                                            "shlwapi.dll",  "user32.dll"};

// The DLLs the installer delay-loads, on purpose: no known DLLs, so each is loaded from System32
// at start, before its first call (PreloadDelayLoadedSystemDlls names them all), and the
// program's own delay-load helper searches System32 only.
inline constexpr std::string_view kKeptDelayLoadImports[] = {"gdiplus.dll"};

// TLS callbacks run before the entry point, so before SetDefaultDllDirectories narrows the DLL
// search. A static mingw-w64 build with threads has three, which the program cannot drop and
// which load no DLL: the runtime's TLS initialiser and destructor (__dyn_tls_init and
// __dyn_tls_dtor, whose start-up code calls the first) and winpthreads' thread-exit clean-up
// (__dyn_tls_pthread, linked in with std::thread). Any more are code of ours or of a library.
inline constexpr std::size_t kRuntimeTlsCallbacks = 3;

// The one side-by-side assembly the manifest may depend on. Windows looks for a dependency in
// WinSxS first and then beside the program; Windows 10 and later carry this one in WinSxS. A
// dependency without a publicKeyToken is a private assembly, looked for beside the program only.
inline constexpr std::string_view kKeptAssemblyName = "Microsoft.Windows.Common-Controls";
inline constexpr std::string_view kKeptAssemblyVersion = "6.0.0.0";
inline constexpr std::string_view kKeptAssemblyToken = "6595b64144ccf1df";

// What the check found; error is empty when the installer is accepted.
struct InstallerVerdict {
    std::string error;
    std::string signerSha256;
    std::string channelUrl;            // of the embedded configuration
    std::uint16_t dependentLoadFlags = 0;
    std::vector<std::string> imports;       // lower case, in the image's order
    std::vector<std::string> delayImports;  // lower case
    std::size_t tlsCallbacks = 0;
};

// The release tool's check of an installer build before it ships, in this order: a PE
// image; an Authenticode signature whose image digest is the file's and whose signer is
// in the configuration's "windowsSignerSHA256" (the feed's check of a setup package);
// the manifest CheckManifestText accepts; an embedded configuration equal to `config`
// member by member; then CheckImageLoading. The first refusal is the verdict's error. The
// file is hostile input: nothing in it is trusted.
InstallerVerdict CheckInstaller(std::span<const std::uint8_t> file, const json::JsonObject& config);

// Throws the refusal of a manifest that Windows would not run as the invoker with DLLs from
// System32 only: not well-formed XML with namespaces; not an asm.v1 assembly; other than
// exactly one requestedExecutionLevel of the three Microsoft assembly namespaces, in the
// asm.v3 trustInfo, asking for asInvoker (comments, CDATA and other namespaces do not count;
// asm.v2, which Windows also reads, counts but is refused); a file element (its DLL is loaded
// from beside the program); a dependency other than the kept assembly.
void CheckManifestText(std::string_view manifest);

// How the image loads: a load configuration the 64-bit loader takes, with DependentLoadFlags
// LOAD_LIBRARY_SEARCH_SYSTEM32; load-time imports within kKeptLoadTimeImports; delay loads
// within kKeptDelayLoadImports; at most kRuntimeTlsCallbacks TLS callbacks. Throws the first
// refusal; fills the verdict's fields on the way.
void CheckImageLoading(std::span<const std::uint8_t> file, const PeImage& image, InstallerVerdict& verdict);

// The texts that may be an embedded configuration: each run of printable bytes that a NUL ends,
// in read-only data, from its first '{"' on, up to 65536 bytes (a literal of the build follows a
// NUL, padding or other data, whose printable end holds no '{"'). The ranges are disjoint:
// judging them all reads each byte once, whatever the file holds.
std::vector<FileRange> ConfigurationCandidates(std::span<const std::uint8_t> file, const PeImage& image);

// Every configuration text embedded in the image: a candidate that is a JSON object with a
// "channelURL" member.
std::vector<std::string> FindEmbeddedConfigurations(std::span<const std::uint8_t> file, const PeImage& image);

// The first member in which two configurations differ, as a sentence; empty when equal.
std::string ConfigurationDifference(const json::JsonObject& embedded, const json::JsonObject& expected);

}  // namespace tavro::release
