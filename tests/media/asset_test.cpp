#include "media/asset.hpp"

#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "media/error.hpp"
#include "media_clips.hpp"

namespace vantrel::media {
namespace {

struct ExpectedTrack {
    int streamIndex;
    float fps;
    double width, height;
    AffineTransform transform;
};

// Each clip is made by one or more ffmpeg runs ("@" stands for the scratch
// folder); the asset reads the last.
struct AssetCase {
    std::string name;
    std::vector<std::pair<std::string, std::string>> steps; // ffmpeg arguments, output
    std::vector<ExpectedTrack> tracks;
    double duration; // NaN: unknown
};

void PrintTo(const AssetCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string x264 = " -c:v libx264 -preset ultrafast ";
const std::string base = "-f lavfi -i testsrc2=s=64x48:r=25 -frames:v 5" + x264;

const AssetCase assetCases[] = {
    {"plain", {{base, "a.mp4"}}, {{0, 25, 64, 48, {}}}, 0.2},
    {"video_after_audio",
     {{"-f lavfi -i testsrc2=s=64x48:r=30:d=0.2 -f lavfi -i sine=d=0.3 -map 1:a -map 0:v -c:a aac" +
           x264,
       "av.mp4"}},
     {{1, 30, 64, 48, {}}},
     0.3},
    {"cover_art_is_no_track",
     {{base, "a.mp4"},
      {"-f lavfi -i color=red:s=32x32 -frames:v 1", "cover.png"},
      {"-i @a.mp4 -i @cover.png -map 0 -map 1 -c copy -disposition:v:1 attached_pic", "c.mp4"}},
     {{0, 25, 64, 48, {}}},
     0.2},
    {"tracks_in_stream_order",
     {{"-f lavfi -i testsrc2=s=64x48:r=25 -f lavfi -i testsrc2=s=32x16:r=10 -map 1 -map 0 "
       "-frames:v 3" +
           x264,
       "two.mkv"}},
     {{0, 10, 32, 16, {}}, {1, 25, 64, 48, {}}},
     0.3},
    {"wide_pixels", {{base + "-vf setsar=2", "sar.mp4"}}, {{0, 25, 128, 48, {}}}, 0.2},
    // Coded lying down, shown upright: the picture is turned clockwise.
    {"display_matrix",
     {{base, "a.mp4"}, {"-i @a.mp4 -c copy -metadata:s:v:0 rotate=270", "turned.mov"}},
     {{0, 25, 64, 48, {0, 1, -1, 0, 0, 0}}},
     0.2},
    {"raw_stream_has_no_duration", {{base, "raw.h264"}}, {{0, 25, 64, 48, {}}}, std::nan("")},
    // No average is stated, only the demuxer's standard rate.
    {"raw_jpeg_rate",
     {{"-f lavfi -i testsrc2=s=64x48:r=25 -frames:v 3 -c:v mjpeg", "raw.mjpeg"}},
     {{0, 25, 64, 48, {}}},
     std::nan("")},
    {"audio_only", {{"-f lavfi -i sine=d=0.5 -c:a aac", "audio.m4a"}}, {}, 0.5},
};

class AssetAnswers : public testing::TestWithParam<AssetCase> {};

TEST_P(AssetAnswers, FromTheFile) {
    const AssetCase& c = GetParam();
    test::ScratchDir dir;
    for (auto [args, output] : c.steps) {
        for (size_t at; (at = args.find('@')) != std::string::npos;)
            args.replace(at, 1, dir.path().string() + "/");
        test::makeClip(args, dir / output);
    }
    const Asset asset(dir / c.steps.back().second);

    const auto tracks = asset.videoTracks();
    ASSERT_EQ(tracks.size(), c.tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        const ExpectedTrack& want = c.tracks[i];
        const AffineTransform& t = tracks[i].preferredTransform;
        EXPECT_EQ(tracks[i].streamIndex, want.streamIndex);
        EXPECT_FLOAT_EQ(tracks[i].nominalFrameRate, want.fps);
        EXPECT_DOUBLE_EQ(tracks[i].naturalSize.width, want.width);
        EXPECT_DOUBLE_EQ(tracks[i].naturalSize.height, want.height);
        EXPECT_EQ(
            std::vector({t.a, t.b, t.c, t.d}),
            std::vector({want.transform.a, want.transform.b, want.transform.c, want.transform.d}));
    }
    if (std::isnan(c.duration))
        EXPECT_TRUE(std::isnan(asset.durationSeconds())) << asset.durationSeconds();
    else
        EXPECT_NEAR(asset.durationSeconds(), c.duration, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Clips, AssetAnswers, testing::ValuesIn(assetCases),
                         [](const auto& info) { return info.param.name; });

TEST(Asset, UnreadableFilesThrowNamingThePath) {
    test::ScratchDir dir;
    std::ofstream(dir / "notes.mp4") << "these are words, not pictures\n";
    for (const auto& path : {dir / "notes.mp4", dir / "missing.mov"}) {
        try {
            Asset asset(path);
            ADD_FAILURE() << "opened " << path;
        } catch (const MediaError& e) {
            EXPECT_NE(e.description().find("open \"" + path.string() + "\" as a video"),
                      std::string::npos)
                << e.description();
        }
    }
}

// A colon in a file name is part of the name, never a protocol.
TEST(Asset, ColonInFileNameIsNotAProtocol) {
    test::ScratchDir dir;
    test::makeClip(base, dir / "take:2.mp4");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(Asset("take:2.mp4").videoTracks().size(), 1u);
    std::filesystem::current_path(cwd);
}

} // namespace
} // namespace vantrel::media
