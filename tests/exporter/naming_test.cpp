// The default output name and the bitrate text typed in megabits per second.

#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "exporter/exporter.hpp"

namespace vantrel {
namespace {

TEST(DefaultOutputName, FollowsTheInputsNameAndExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/in/clip.MOV", "clip_vantrel_10bit.mov"},
        {"/in/clip.M4V", "clip_vantrel_10bit.mp4"},
        {"/in/a.b.mp4", "a.b_vantrel_10bit.mp4"},
        {"/in/clip", "clip_vantrel_10bit.mov"},
        {"clip.Mp4", "clip_vantrel_10bit.mp4"},
        {"/in/d\u00e9j\u00e0.m4v", "d\u00e9j\u00e0_vantrel_10bit.mp4"},
        {"/in/clip.mp4/", "clip_vantrel_10bit.mp4"}};
    for (const auto& [input, name] : cases)
        EXPECT_EQ(Exporter::defaultOutputName(std::filesystem::path(input)), name) << input;
    EXPECT_EQ(Exporter::defaultOutputName(std::nullopt), "vantrel_vantrel_10bit.mov");
}

TEST(BitrateText, GivesOverrideInBitsPerSecond) {
    using Case = std::pair<std::string, std::optional<std::int64_t>>;
    for (const auto& [text, bps] :
         {Case{"", {}}, Case{"12", 12'000'000}, Case{" 12,5 ", 12'500'000},
          Case{"1,000", 1'000'000}, Case{"1,000,000", {}}, Case{"1e3", 1'000'000'000},
          Case{"0", {}}, Case{"-5", {}}, Case{"12 Mbps", {}}, Case{"1e400", {}},
          Case{"0.0000001", 0}, Case{"0.0000015", 1}, Case{"\u00A0\u300025\u2029", 25'000'000},
          Case{"0x10", 16'000'000}, Case{"+2.5", 2'500'000}, Case{"nan", {}},
          Case{std::string("12\0", 3), {}},
          // beyond the signed 64-bit range: saturates rather than wraps
          Case{"1e13", std::numeric_limits<std::int64_t>::max()}})
        EXPECT_EQ(Exporter::parseBitrateOverride(text), bps) << "\"" << text << "\"";
}

} // namespace
} // namespace vantrel
