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

// "stream fps widthxheight [turn a b c d];" per video stream, then the duration
// to a tenth of a second ("?" when unknown).
std::string describe(const Source& source) {
    std::ostringstream out;
    for (const VideoStream& s : source.videoStreams()) {
        const AffineTransform& m = s.displayMatrix;
        out << s.index << ' ' << s.frameRate << ' ' << s.size.width << 'x' << s.size.height;
        if (!m.isIdentity())
            out << " turn " << m.a << ' ' << m.b << ' ' << m.c << ' ' << m.d;
        out << ';';
    }
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
        {v + "64x48:r=30:d=0.2 -f lavfi -i sine=d=0.3 -map 1:a -map 0:v -c:a aac" + x264, "av.mp4",
         "1 30 64x48; 0.3"},
        // Cover art is no stream.
        {"-i a.mp4 -i cover.png -map 0 -map 1 -c copy -disposition:v:1 attached_pic", "c.mp4",
         "0 25 64x48; 0.2"},
        {v + "64x48:r=25 " + v + "32x16:r=10 -map 1 -map 0 -frames:v 3" + x264, "two.mkv",
         "0 10 32x16;1 25 64x48; 0.3"},
        {base + "-vf setsar=2", "wide-pixels.mp4", "0 25 128x48; 0.2"},
        // Coded lying down, shown upright: the picture is turned clockwise.
        {"-i a.mp4 -c copy -metadata:s:v:0 rotate=270", "turned.mov",
         "0 25 64x48 turn 0 1 -1 0; 0.2"},
        {base, "raw.h264", "0 25 64x48; ?"},
        {"-f lavfi -i sine=d=0.5 -c:a aac", "audio.m4a", " 0.5"},
        // Every fourth frame dropped: the real base rate stays 30, the average is 23.
        {v + "64x48:r=30:d=1 -vf \"select='not(eq(mod(n,4),3))'\" -fps_mode passthrough" + x264,
         "dropped.mov", "0 23 64x48; 1.0"},
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
