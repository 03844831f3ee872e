#include "media/reader.hpp"

#include <gtest/gtest.h>

#include "media_clips.hpp"

namespace vantrel::media {
namespace {

using test::decodeAll;
using test::makeVideo;
using test::sampleAt;

// Frame n of these clips is flat with a luma of first + n·step, so both the order
// and the exact values can be checked.
struct OrderCase {
    std::string name, file, pixelFormat, codecArgs;
    int first, step;
    int tolerance; // 0 for lossless coding
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << c.name;
}

const OrderCase orderCases[] = {
    // B-frames make the decoder reorder.
    {"h264_b_frames", "b.mp4", "yuv420p",
     "-c:v libx264 -preset superfast -qp 10 -bf 3 -b_strategy 0", 16, 20, 3},
    // Ten bits with values no 8-bit source could give (not multiples of 4).
    {"hevc_10_bit", "ten.mp4", "yuv420p10le",
     "-c:v libx265 -preset ultrafast -x265-params lossless=1:bframes=3:log-level=error", 65, 37, 0},
    {"ffv1_10_bit_422", "ten.mkv", "yuv422p10le", "-c:v ffv1", 101, 41, 0},
};

class ReaderOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(ReaderOrder, EveryFrameOnceInOrderAtSourceDepth) {
    const OrderCase& c = GetParam();
    test::ScratchDir dir;
    const auto n = [](int v) { return std::to_string(v); };
    auto clip = decodeAll(makeVideo(dir, c.file,
                                    "color=gray:s=64x48:r=25,format=" + c.pixelFormat +
                                        ",geq=lum='" + n(c.first) + "+N*" + n(c.step) +
                                        "':cb=" + n(c.first) + ":cr=" + n(c.first + 2),
                                    10, c.codecArgs));
    ASSERT_EQ(clip.samples.size(), 10u) << "then nothing";
    EXPECT_EQ(clip.endStatus, ReaderStatus::completed);
    for (int i = 0; i < 10; ++i) {
        const AVFrame& frame = *clip.samples[i].imageBuffer();
        EXPECT_EQ(frame.format, av_get_pix_fmt(c.pixelFormat.c_str()));
        EXPECT_NEAR(sampleAt(frame, 0, 17, 9), c.first + i * c.step, c.tolerance) << i;
        EXPECT_NEAR(sampleAt(frame, 2, 5, 3), c.first + 2, c.tolerance) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, ReaderOrder, testing::ValuesIn(orderCases),
                         [](const auto& info) { return info.param.name; });

// As many pictures as an independent decoder counts, of the right size.
TEST(Reader, FrameCountMatchesProbe) {
    test::ScratchDir dir;
    test::makeClip("-f lavfi -i testsrc2=s=64x48:r=25:d=0.16 -f lavfi -i sine=d=0.16 -map 1:a "
                   "-map 0:v -c:a aac -c:v libx264 -preset ultrafast",
                   dir / "audio.mp4");
    for (const auto& path :
         {dir / "audio.mp4",
          makeVideo(dir, "vfr.mp4", "testsrc2=s=64x48:r=25,setpts='N*N/TB/25'", 8,
                    "-fps_mode vfr -c:v libx264 -preset ultrafast"),
          makeVideo(dir, "odd.mkv", "testsrc=s=65x49:r=25", 5, "-pix_fmt yuv420p -c:v ffv1")}) {
        const auto stream = test::probe(path, "-count_frames -select_streams v")["streams"][0];
        auto clip = decodeAll(path);
        EXPECT_EQ(std::to_string(clip.samples.size()), stream["nb_read_frames"]) << path;
        ASSERT_FALSE(clip.samples.empty());
        EXPECT_EQ(clip.samples[0].imageBuffer()->width, stream["width"]);
        EXPECT_EQ(clip.samples[0].imageBuffer()->height, stream["height"]);
    }
}

class ReaderLifecycle : public testing::Test {
protected:
    test::ScratchDir dir;
    Asset asset{makeVideo(dir, "c.mp4", "testsrc2=s=64x48:r=25", 6, "-c:v libx264")};
    VideoTrack track = asset.videoTracks().at(0);
};

TEST_F(ReaderLifecycle, SamplesOnlyWhileReading) {
    AssetReader reader(asset);
    AssetReaderTrackOutput output(track);
    EXPECT_FALSE(output.copyNextSample()) << "not added";
    reader.addOutput(output);
    EXPECT_FALSE(output.copyNextSample()) << "not started";
    ASSERT_TRUE(reader.startReading());
    EXPECT_FALSE(reader.startReading()) << "started twice";
    ASSERT_TRUE(output.copyNextSample());
    reader.cancelReading();
    EXPECT_EQ(reader.status(), ReaderStatus::cancelled);
    EXPECT_FALSE(output.copyNextSample());
    EXPECT_EQ(reader.status(), ReaderStatus::cancelled);
}

TEST_F(ReaderLifecycle, OneOutputOfAVideoTrack) {
    AssetReader reader(asset);
    VideoTrack missing = track;
    missing.streamIndex = 7;
    AssetReaderTrackOutput bogus(missing), first(track), second(track);
    EXPECT_FALSE(reader.canAddOutput(bogus));
    ASSERT_TRUE(reader.canAddOutput(first));
    reader.addOutput(first);
    EXPECT_FALSE(reader.canAddOutput(second));
    EXPECT_THROW(reader.addOutput(second), MediaError);
    EXPECT_FALSE(AssetReader(asset).canAddOutput(first)) << "belongs to a reader already";

    AssetReader empty(asset);
    EXPECT_FALSE(empty.startReading());
    EXPECT_EQ(empty.status(), ReaderStatus::failed);
    EXPECT_TRUE(empty.error());
}

// Either may go first; the other must not touch it afterwards.
TEST_F(ReaderLifecycle, ReaderAndOutputOutliveEachOther) {
    AssetReaderTrackOutput output(track);
    {
        AssetReader reader(asset);
        reader.addOutput(output);
        ASSERT_TRUE(reader.startReading());
    }
    EXPECT_FALSE(output.copyNextSample());
    AssetReader reader(asset);
    {
        AssetReaderTrackOutput shortLived(track);
        reader.addOutput(shortLived);
    }
    EXPECT_TRUE(reader.canAddOutput(AssetReaderTrackOutput(track)));
}

} // namespace
} // namespace vantrel::media
