#include "media/frame.hpp"

#include "media/colour_tags.hpp"
#include "media/encoder.hpp"
#include "media/muxer.hpp"
#include "media_clips.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vantrel::media {
namespace {

using test::sampleAt;

// Planes are aligned and apart: after filling all, the last sample of each keeps
// its value. Frames outlive their pool.
TEST(FramePool, FramesHoldThePictureInAlignedTenBitPlanesAndImpossibleSizesGetNone) {
    for (auto [width, height] :
         {std::pair{1, 1}, {65, 49}, {1920, 1080}, {0, 48}, {-2, 2}, {1 << 30, 1 << 30}}) {
        SCOPED_TRACE(testing::Message() << width << 'x' << height);
        const auto frame = FramePool(width, height).acquire();
        ASSERT_EQ(bool(frame), width > 0 && width < 1 << 30);
        if (!frame)
            continue;
        const PictureView v = frame->view();
        EXPECT_EQ(
            std::tuple(v.width, v.height, v.bitDepth, v.chromaShiftX, v.chromaShiftY,
                       v.colour.matrix, v.colour.range, v.colour.primaries),
            std::tuple(width, height, 10, 1, 1, Matrix::bt709, Range::full, Primaries::bt709));
        test::fill(v, {940, 64, 1023});
        for (int p = 0; p < 3; ++p) {
            const int w = p ? (width + 1) / 2 : width, h = p ? (height + 1) / 2 : height;
            EXPECT_EQ(std::tuple(v.planes[p].stride % 64, v.planes[p].stride >= 2 * w,
                                 reinterpret_cast<std::uintptr_t>(v.planes[p].data) % 32,
                                 sampleAt(v, p, w - 1, h - 1)),
                      std::tuple(0, true, 0u, std::array{940, 64, 1023}[p]));
        }
    }
}

// Every code point FFmpeg names maps to the same number and name in our terms,
// and back.
TEST(ColourTags, AgreeWithFFmpegOnEveryCodePoint) {
    AVFrame frame{};
    for (int v = 0; v < 32; ++v) {
        // Only values each enum can hold: anything else is not a value of its type.
        const auto at = [&](int count) { return v < count ? v : 0; };
        frame.color_primaries = AVColorPrimaries(at(AVCOL_PRI_NB));
        frame.color_trc = AVColorTransferCharacteristic(at(AVCOL_TRC_NB));
        frame.colorspace = AVColorSpace(at(AVCOL_SPC_NB));
        frame.color_range = AVColorRange(at(AVCOL_RANGE_NB));
        frame.chroma_location = AVChromaLocation(at(AVCHROMA_LOC_NB));
        const ColourDescription d = describe(frame);
        const auto same = [&](int count, const char* theirs, std::string_view ours, auto value,
                              auto back) {
            if (v < count && theirs) {
                EXPECT_EQ(std::tuple(std::string(ours), int(value), int(back)),
                          std::tuple(std::string(theirs), v, v));
            }
        };
        same(AVCOL_PRI_NB, av_color_primaries_name(frame.color_primaries), nameOf(d.primaries),
             d.primaries, toFFmpeg(d.primaries));
        same(AVCOL_TRC_NB, av_color_transfer_name(frame.color_trc), nameOf(d.transfer), d.transfer,
             toFFmpeg(d.transfer));
        same(AVCOL_SPC_NB, av_color_space_name(frame.colorspace), nameOf(d.matrix), d.matrix,
             toFFmpeg(d.matrix));
        same(AVCOL_RANGE_NB, av_color_range_name(frame.color_range), nameOf(d.range), d.range,
             toFFmpeg(d.range));
        same(AVCHROMA_LOC_NB, av_chroma_location_name(frame.chroma_location), nameOf(d.siting),
             d.siting, toFFmpeg(d.siting));
    }
    frame.format = AV_PIX_FMT_YUVJ420P;
    frame.color_range = AVCOL_RANGE_UNSPECIFIED;
    EXPECT_EQ(describe(frame).range, Range::full);
}

// The encoder and the muxer on their own: what finishing an empty movie and a
// picture of the wrong size do, and that nothing is left beside the output.
TEST(Muxer, RefusesAnEmptyMovieAndAForeignPictureAndLeavesNothing) {
    test::ScratchDir dir;
    const auto code = [](auto&& step) {
        try {
            step();
        } catch (const Error& error) {
            return error.code();
        }
        return 0;
    };
    {
        Encoder encoder(
            {.width = 64, .height = 48, .timescale = 25, .frameStep = 1, .preset = "ultrafast"},
            Muxer::wantsGlobalHeader(FileType::mov));
        Muxer empty(dir / "empty.mov", FileType::mov, encoder),
            other(dir / "o.mp4", FileType::mp4, encoder);
        encoder.flush(empty, {});
        FramePool pool(32, 48); // a 32x48 picture for a 64x48 encoder
        EXPECT_EQ(std::pair(code([&] { empty.finish(); }),
                            code([&] { encoder.encode(*pool.acquire(), 0, other); })),
                  std::pair(int(MediaCode::noVideo), int(MediaCode::wrongPicture)));
    }
    EXPECT_TRUE(test::folderEntries(dir.path()).empty());
}

} // namespace
} // namespace vantrel::media
