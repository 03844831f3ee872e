#include "media/reader.hpp"

#include "media/av_ptr.hpp"
#include "media/frame_internal.hpp"
#include "media_clips.hpp"

namespace vantrel::media {
namespace {

// Frame n is flat with a luma of first + n·step, so both order and values show.
TEST(Reader, EveryFrameOnceInOrderAtSourceDepth) {
    struct {
        std::string file, pixelFormat, codecArgs;
        int first, step, tolerance; // tolerance 0 for lossless coding
    } const cases[] = {
        // B-frames make the decoder reorder; the video is the second stream.
        {"b.mp4", "yuv420p",
         "-f lavfi -i sine=d=0.5 -map 1:a -map 0:v -c:a aac -c:v libx264 -preset superfast -qp 10 "
         "-bf 3 -b_strategy 0",
         16, 20, 3},
        // Ten bits with values no 8-bit source could give (not multiples of 4).
        {"ten.mp4", "yuv420p10le",
         "-c:v libx265 -preset ultrafast -x265-params lossless=1:bframes=3:log-level=error", 65, 37,
         0},
        {"ten.mkv", "yuv422p10le", "-c:v ffv1", 101, 41, 0},
    };
    test::ScratchDir dir;
    const auto n = [](int v) { return std::to_string(v); };
    for (const auto& c : cases) {
        const std::string graph = "color=gray:s=64x48:r=25:d=0.4,format=" + c.pixelFormat +
                                  ",geq=lum='" + n(c.first) + "+N*" + n(c.step) +
                                  "':cr=" + n(c.first + 2);
        test::makeClip("-f lavfi -i " + test::shellQuote(graph) + " " + c.codecArgs, dir / c.file);
        const Asset asset(dir / c.file);
        AssetReader reader(asset);
        AssetReaderTrackOutput& output = reader.addOutput(asset.videoTracks().at(0));
        ASSERT_TRUE(reader.startReading());
        for (int i = 0; i < 10; ++i) {
            const auto picture = output.nextPicture();
            ASSERT_TRUE(picture) << c.file << " frame " << i;
            const AVFrame& frame = avFrame(*picture);
            EXPECT_EQ(frame.format, av_get_pix_fmt(c.pixelFormat.c_str())) << c.file;
            EXPECT_NEAR(test::sampleAt(frame, 0, 17, 9), c.first + i * c.step, c.tolerance)
                << c.file << " frame " << i;
            EXPECT_NEAR(test::sampleAt(frame, 2, 5, 3), c.first + 2, c.tolerance) << c.file;
        }
        EXPECT_FALSE(output.nextPicture()) << c.file;
        EXPECT_EQ(reader.status(), ReaderStatus::completed) << c.file;
    }
}

} // namespace
} // namespace vantrel::media
