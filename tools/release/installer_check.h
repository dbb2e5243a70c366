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
inline constexpr std::string_view kKeptLoadTimeImports[] = {"advapi32.dll", "gdi32.dll",  "gdiplus.dll",
                                                            "kernel32.dll", "msvcrt.dll", "ole32.dll",
                                                            "shell32.dll",  "shlwapi.dll", "user32.dll"};

// What the check found; error is empty when the installer is accepted.
struct InstallerVerdict {
    std::string error;
    std::string signerSha256;
    std::string channelUrl;            // of the embedded configuration
    std::uint16_t dependentLoadFlags = 0;
    std::vector<std::string> imports;  // lower case, in the image's order
};

// The release tool's check of an installer build before it ships, in this order: a PE
// image; an Authenticode signature whose image digest is the file's and whose signer is
// in the configuration's "windowsSignerSHA256" (the feed's check of a setup package);
// a manifest that asks for asInvoker; an embedded configuration equal to `config`
// member by member; a load configuration the 64-bit loader takes, with DependentLoadFlags
// LOAD_LIBRARY_SEARCH_SYSTEM32; load-time imports within kKeptLoadTimeImports. The first
// refusal is the verdict's error. The file is hostile input: nothing in it is trusted.
InstallerVerdict CheckInstaller(std::span<const std::uint8_t> file, const json::JsonObject& config);

// The level attribute of a manifest's requestedExecutionLevel (comments skipped, any
// namespace prefix); empty when the text names none.
std::string RequestedExecutionLevel(std::string_view manifest);

// Every configuration text embedded in the image: a NUL-terminated one-line JSON object
// with a "channelURL" member in read-only data, as the build embeds it.
std::vector<std::string> FindEmbeddedConfigurations(std::span<const std::uint8_t> file, const PeImage& image);

// The first member in which two configurations differ, as a sentence; empty when equal.
std::string ConfigurationDifference(const json::JsonObject& embedded, const json::JsonObject& expected);

}  // namespace tavro::release
