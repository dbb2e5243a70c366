#include "ui/clip_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tavro {
namespace {

std::vector<std::uint8_t> ReadClip(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The test clip and the damaged copies of it that the build makes.
TEST(ClipCheck, RefusesOnlyClipsWhoseFirstSampleIsCutShort) {
    const std::string source = std::getenv("TAVRO_SOURCE_DIR");
    const std::string fixtures = std::string(std::getenv("TAVRO_BUILD_DIR")) + "/tests/ui/media_fixtures/";
    const auto whole = ReadClip(source + "/tests/ui/fixtures/short_clip.mp4");
    ASSERT_GT(whole.size(), 1000u);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> clip;
        bool expected;
    } cases[] = {
        {"whole", whole, true},
        {"truncated halfway through the media data", ReadClip(fixtures + "truncated.mp4"), true},
        {"media data zeroed", ReadClip(fixtures + "no-sample-data.mp4"), true},
        {"first key frame cut short", ReadClip(fixtures + "first-key-frame-cut.mp4"), false},
        {"cut inside the index", {whole.begin(), whole.begin() + 200}, false},
        {"only the file type box", {whole.begin(), whole.begin() + 32}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(FirstSamplesPresent(c.clip.data(), c.clip.size()), c.expected) << c.name;
}

}  // namespace
}  // namespace tavro
