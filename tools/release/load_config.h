#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pe_image.h"

namespace tavro::release {

// LOAD_LIBRARY_SEARCH_SYSTEM32: the DLLs the image names are looked for in System32 only.
inline constexpr std::uint16_t kSearchSystem32Only = 0x0800;

// The value a security cookie must hold in the file: the loader replaces it with a random
// one at start, and refuses to start some images whose cookie holds anything else.
inline constexpr std::uint64_t kDefaultSecurityCookie = 0x00002B992DDFA232;

// The section the installer's load configuration structure is linked into. GNU ld neither
// points data directory 10 at it nor leaves a symbol table in the stripped image, so the
// post-link step finds the structure by this name.
inline constexpr char kLoadConfigSection[] = ".loadcfg";

// Why a 64-bit Windows loader would not use the image's load configuration as it stands
// (it ignores one whose directory size differs from the structure's Size field), or why
// it would refuse the image; empty when the configuration is sound.
std::string LoadConfigurationFault(std::span<const std::uint8_t> file, const PeImage& image,
                                   const LoadConfiguration& config);

// Points data directory 10 of an unsigned 64-bit image at the structure at the start of
// its ".loadcfg" section and writes the CheckSum again. Returns false, changing nothing,
// when the directory already points there and the configuration is sound. Throws a runtime error when the image is
// signed, has no such section, already names another load configuration, carries a
// CheckSum that is not the file's, or would not have a sound load configuration.
bool WriteLoadConfigDirectory(std::vector<std::uint8_t>& file);

}  // namespace tavro::release
