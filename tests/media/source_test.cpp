#include "media/source.hpp"

#include <cmath>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "media/error.hpp"
#include "support/test_support.hpp"

namespace vantrel::media {
namespace {

const std::string x264 = " -c:v libx264 -preset ultrafast ";
const std::string base = "-f lavfi -i testsrc2=s=64x48:r=25 -frames:v 5" + x264;

// "stream fps widthxheight;" per video stream, then the duration to a tenth of a
// second ("?" when unknown). Turns, rates and durations are proven end to end by the
// export tests; here what only the reading decides.
std::string describe(const Source& source) {
    std::ostringstream out;
    for (const VideoStream& s : source.videoStreams())
        out << s.index << ' ' << s.frameRate << ' ' << s.size.width << 'x' << s.size.height << ';';
    const double duration = std::round(source.durationSeconds() * 10) / 10;
    out << ' ' << (std::isnan(duration) ? "?" : std::to_string(duration).substr(0, 3));
    return out.str();
}

// Clips are made and opened inside the scratch folder, by relative paths; a file
// that is no media throws, naming itself.
TEST(Source, AnswersFromTheFile) {
    test::ScratchDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    test::makeClip(base, "a.mp4");
    test::makeClip("-f lavfi -i color=red:s=32x32 -frames:v 1", "cover.png");
    const std::string v = "-f lavfi -i testsrc2=s=";
    struct {
        std::string args, output, described;
    } const cases[] = {
        // Cover art is no stream.
        {"-i a.mp4 -i cover.png -map 0 -map 1 -c copy -disposition:v:1 attached_pic", "c.mp4",
         "0 25 64x48; 0.2"},
        {v + "64x48:r=25 " + v + "32x16:r=10 -map 1 -map 0 -frames:v 3" + x264, "two.mkv",
         "0 10 32x16;1 25 64x48; 0.3"},
        // A colon in a file name is part of the name, never a protocol.
        {base, "take:2.mp4", "0 25 64x48; 0.2"},
    };
    for (const auto& c : cases) {
        test::makeClip(c.args, dir / c.output);
        EXPECT_EQ(describe(Source(c.output)), c.described) << c.output;
    }
    test::writeFile("notes.mp4", "these are words, not pictures\n");
    EXPECT_THAT([] { Source("notes.mp4"); }, testing::ThrowsMessage<MediaError>(testing::HasSubstr(
                                                 "open \"notes.mp4\" as a video")));
    std::filesystem::current_path(cwd);
}

} // namespace
} // namespace vantrel::media
