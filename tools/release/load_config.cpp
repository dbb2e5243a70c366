#include "load_config.h"

#include <cstdio>
#include <stdexcept>

namespace tavro::release {

namespace {

// Offsets in IMAGE_LOAD_CONFIG_DIRECTORY64 of the addresses that a loader follows when
// they are not zero (lock prefixes, edit list, handler tables, the guard and failure
// routines, dynamic relocations, enclave and volatile metadata, continuation targets).
constexpr std::uint32_t kAddressFields[] = {0x28, 0x50, 0x60, 0x70, 0x78, 0x80, 0xA0, 0xB0, 0xC0, 0xC8,
                                            0xD0, 0xD8, 0xE8, 0xF8, 0x100, 0x108, 0x118, 0x120, 0x128, 0x138};
constexpr std::uint32_t kSmallestStructure = 0x50;  // up to DependentLoadFlags

void Put32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

bool InImage(const PeImage& image, std::uint64_t address, std::uint64_t size) {
    return address >= image.imageBase && address - image.imageBase <= image.sizeOfImage &&
           size <= image.sizeOfImage - (address - image.imageBase);
}

[[noreturn]] void Refuse(const std::string& why) {
    throw std::runtime_error(why);
}

}  // namespace

std::string LoadConfigurationFault(std::span<const std::uint8_t> file, const PeImage& image,
                                   const LoadConfiguration& config) {
    if (!image.pe32Plus) return "the image is not a 64-bit image";
    if (config.directory.rva == 0 || config.directory.size == 0) {
        return "the image has no load configuration (data directory 10 is empty)";
    }
    if (config.directory.rva % 8 != 0) return "the load configuration is not aligned to 8 bytes";
    if (config.directory.size != config.structureSize) {
        return "data directory 10 gives " + std::to_string(config.directory.size) + " bytes, the structure's Size " +
               std::to_string(config.structureSize) + ": a 64-bit loader ignores such a load configuration";
    }
    if (config.structureSize < kSmallestStructure) {
        return "the load configuration is too short to hold DependentLoadFlags";
    }
    if (!InImage(image, image.imageBase + config.directory.rva, config.structureSize)) {
        return "the load configuration lies outside the image";
    }
    if (config.securityCookie != 0) {
        if (!InImage(image, config.securityCookie, 8)) return "the security cookie lies outside the image";
        const std::uint64_t rva = config.securityCookie - image.imageBase;
        const PeSection* section = SectionOfRva(image, rva);
        if (section == nullptr || 8 > section->raw.size - (rva - section->virtualAddress)) {
            return "the security cookie has no initial value in the file";
        }
        if (!(section->characteristics & kSectionWrite)) {
            return "the security cookie lies in a section the loader cannot write";
        }
        const std::uint64_t value =
            ReadU64(file, section->raw.offset + (rva - section->virtualAddress), "security cookie");
        if (value != kDefaultSecurityCookie) {
            return "the security cookie holds " + Hex(value) + ", not the default " + Hex(kDefaultSecurityCookie);
        }
    }
    for (const std::uint32_t field : kAddressFields) {
        if (field + 8 > config.structureSize) break;
        const std::uint64_t address = ReadU64(file, config.structure.offset + field, "load configuration");
        if (address != 0 && !InImage(image, address, 1)) {
            return "the load configuration's address at offset " + Hex(field) + " lies outside the image";
        }
    }
    return {};
}

bool WriteLoadConfigDirectory(std::vector<std::uint8_t>& file) {
    const PeImage image = ReadPeImage(file);
    if (!image.pe32Plus) Refuse("not a 64-bit image");
    if (image.certificateTable.size != 0) {
        Refuse("the image is signed: its load configuration must be written before signing");
    }
    const PeSection* section = nullptr;
    for (const PeSection& s : image.sections) {
        if (s.name != kLoadConfigSection) continue;
        if (section != nullptr) Refuse(std::string("more than one ") + kLoadConfigSection + " section");
        section = &s;
    }
    if (section == nullptr) {
        Refuse(std::string("no ") + kLoadConfigSection + " section: the load configuration was not linked in");
    }
    if (section->raw.size < 4) Refuse(std::string("the ") + kLoadConfigSection + " section has no data");
    const std::uint32_t structureSize = ReadU32(file, section->raw.offset, "load configuration");
    if (structureSize > section->raw.size || structureSize > section->virtualSize) {
        Refuse("the structure's Size " + std::to_string(structureSize) + " is larger than its section");
    }

    const DataDirectory directory = ReadDataDirectory(file, image, kLoadConfigDirectory);
    if (directory.entry.size == 0) Refuse("the image has no data directory 10");
    const bool inPlace = directory.rva == section->virtualAddress && directory.size == structureSize;
    if (inPlace) {
        const std::string fault = LoadConfigurationFault(file, image, ReadLoadConfiguration(file, image));
        if (!fault.empty()) Refuse(fault);
        return false;
    }
    if (directory.rva != 0 || directory.size != 0) Refuse("data directory 10 already names another load configuration");

    // A CheckSum the linker wrote is kept true; that it matched the file before is also
    // the proof that it is computed here as the linker does.
    const std::uint32_t checksum = ReadU32(file, image.checksum.offset, "CheckSum");
    if (checksum != 0 && checksum != ComputePeChecksum(file, image)) {
        Refuse("the CheckSum " + Hex(checksum) + " is not the file's: the image changed after it was linked");
    }
    Put32(file, directory.entry.offset, section->virtualAddress);
    Put32(file, directory.entry.offset + 4, structureSize);
    if (checksum != 0) Put32(file, image.checksum.offset, ComputePeChecksum(file, image));

    const std::string fault = LoadConfigurationFault(file, image, ReadLoadConfiguration(file, image));
    if (!fault.empty()) Refuse(fault);
    return true;
}

}  // namespace tavro::release
