// tavro-load-config: the post-link step of the installer's build. Points data directory
// 10 of the linked image at the load configuration it carries, before anything signs it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "load_config.h"
#include "pe_image.h"

namespace {

constexpr char kUsage[] =
    "usage: tavro-load-config [--remove-on-failure] IMAGE.exe\n"
    "Points data directory 10 of IMAGE.exe at the structure in its .loadcfg section and writes\n"
    "its CheckSum again; an image that already has it is only checked. --remove-on-failure\n"
    "deletes an image that cannot be given a sound load configuration, so that a build never\n"
    "leaves one behind that looks finished.\n";

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the file");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Written beside the image and renamed over it: no reader ever sees half an image.
void ReplaceFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string temporary = path + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + temporary);
    std::filesystem::permissions(temporary, std::filesystem::status(path).permissions());
    std::filesystem::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool removeOnFailure = !args.empty() && args.front() == "--remove-on-failure";
    if (removeOnFailure) args.erase(args.begin());
    if (args.size() != 1 || args.front().empty() || args.front()[0] == '-') {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& path = args.front();
    try {
        std::vector<std::uint8_t> image = ReadFile(path);
        const bool written = tavro::release::WriteLoadConfigDirectory(image);
        if (written) ReplaceFile(path, image);
        const tavro::release::LoadConfiguration config =
            tavro::release::ReadLoadConfiguration(image, tavro::release::ReadPeImage(image));
        char flags[8];
        std::snprintf(flags, sizeof flags, "0x%X", config.dependentLoadFlags);
        std::cerr << "tavro-load-config: " << path << ": load configuration of " << config.structureSize
                  << " bytes, DependentLoadFlags " << flags << (written ? "" : ", already in place") << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "tavro-load-config: " << path << ": " << e.what() << "\n";
        if (removeOnFailure) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            std::cerr << "tavro-load-config: removed " << path << "\n";
        }
        return 1;
    }
}
