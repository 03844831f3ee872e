#include "media/picture_fitter.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include <gtest/gtest.h>

#include "media_clips.hpp"

namespace vantrel::media {
namespace {

using test::sampleAt;

// A frame whose component p at (x, y) is value(p, x, y), written through the
// format's descriptor so packed and semi-planar layouts work too.
FramePtr makeFrame(AVPixelFormat format, int width, int height,
                   const std::function<int(int, int, int)>& value,
                   AVColorSpace colourSpace = AVCOL_SPC_UNSPECIFIED,
                   AVColorRange range = AVCOL_RANGE_UNSPECIFIED) {
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->colorspace = colourSpace;
    frame->color_range = range;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const bool bigEndian = desc->flags & AV_PIX_FMT_FLAG_BE;
    for (int p = 0; p < desc->nb_components; ++p) {
        const AVComponentDescriptor& comp = desc->comp[p];
        const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        for (int y = 0; y < (chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height); ++y)
            for (int x = 0; x < (chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width);
                 ++x) {
                std::uint8_t* at = frame->data[comp.plane] + y * frame->linesize[comp.plane] +
                                   x * comp.step + comp.offset;
                const int v = value(p, x, y);
                at[comp.depth > 8 && bigEndian ? 1 : 0] = static_cast<std::uint8_t>(v);
                if (comp.depth > 8)
                    at[bigEndian ? 0 : 1] = static_cast<std::uint8_t>(v >> 8);
            }
    }
    return frame;
}

FramePtr flatFrame(AVPixelFormat format, int width, int height, int y, int cb, int cr,
                   AVColorSpace colourSpace = AVCOL_SPC_UNSPECIFIED,
                   AVColorRange range = AVCOL_RANGE_UNSPECIFIED) {
    return makeFrame(
        format, width, height, [=](int p, int, int) { return p == 0   ? y
                                                             : p == 1 ? cb
                                                                      : cr; },
        colourSpace, range);
}

AffineTransform rotatedBy(double degrees, double scale = 1) {
    const double r = degrees * std::numbers::pi / 180;
    return {
        scale * std::cos(r), scale * std::sin(r), -scale * std::sin(r), scale * std::cos(r), 0, 0};
}

TEST(Orientations, NearestQuarterTurnOfTheLinearPart) {
    const std::pair<AffineTransform, Orientation> cases[] = {
        {{}, Orientation::up},
        {{-1, 0, 0, 1, 0, 0}, Orientation::upMirrored},
        {{-1, 0, 0, -1, 0, 0}, Orientation::down},
        {{1, 0, 0, -1, 0, 0}, Orientation::downMirrored},
        {{0, -1, 1, 0, 0, 0}, Orientation::left},
        {{0, 1, 1, 0, 0, 0}, Orientation::leftMirrored},
        {{0, 1, -1, 0, 0, 0}, Orientation::right},
        {{0, -1, -1, 0, 0, 0}, Orientation::rightMirrored},
        {rotatedBy(90, 2.5), Orientation::right},
        {rotatedBy(-84), Orientation::left},
        {rotatedBy(176, 0.5), Orientation::down},
        {rotatedBy(30), Orientation::up},
    };
    for (const auto& [t, expected] : cases)
        EXPECT_EQ(orientationOf(t), expected) << t.a << ' ' << t.b << ' ' << t.c << ' ' << t.d;
}

// A 6×4 picture with a different luma in every pixel, turned each way; the table
// says where its top-left and top-right pixels land.
struct TurnCase {
    Orientation orientation;
    int topLeftX, topLeftY, topRightX, topRightY;
};

void PrintTo(const TurnCase& c, std::ostream* os) {
    *os << static_cast<int>(c.orientation);
}

class Turns : public testing::TestWithParam<TurnCase> {};

TEST_P(Turns, CornersLandWhereTheOrientationSays) {
    const TurnCase& c = GetParam();
    auto frame = makeFrame(AV_PIX_FMT_YUV444P, 6, 4,
                           [](int p, int x, int y) { return 20 + 10 * y + x + p; });
    // The top edge standing on end (both corners in one column) swaps the sides.
    const bool swap = c.topLeftX == c.topRightX;
    EXPECT_EQ(swapsSides(c.orientation), swap);
    PictureFitter fitter(swap ? 4 : 6, swap ? 6 : 4, c.orientation);
    const PictureView view = fitter.fit(*frame);
    ASSERT_EQ(view.width, swap ? 4 : 6);
    ASSERT_EQ(view.height, swap ? 6 : 4);
    // Upright it passes through; turned, nothing is scaled, so every sample is its
    // source value widened to 16 bits.
    const int shift = c.orientation == Orientation::up ? 0 : 8;
    EXPECT_EQ(view.bitDepth, shift ? 16 : 8);
    EXPECT_EQ(sampleAt(view, 0, c.topLeftX, c.topLeftY), 20 << shift);
    EXPECT_EQ(sampleAt(view, 0, c.topRightX, c.topRightY), 25 << shift);
    EXPECT_EQ(sampleAt(view, 2, c.topRightX, c.topRightY), 27 << shift);
    std::vector<int> seen, expected;
    for (int y = 0; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x)
            seen.push_back(sampleAt(view, 0, x, y) >> shift);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            expected.push_back(20 + 10 * y + x);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, expected) << "every pixel exactly once";
}

INSTANTIATE_TEST_SUITE_P(AllEight, Turns,
                         testing::Values(TurnCase{Orientation::up, 0, 0, 5, 0},
                                         TurnCase{Orientation::upMirrored, 5, 0, 0, 0},
                                         TurnCase{Orientation::down, 5, 3, 0, 3},
                                         TurnCase{Orientation::downMirrored, 0, 3, 5, 3},
                                         TurnCase{Orientation::left, 0, 5, 0, 0},
                                         TurnCase{Orientation::leftMirrored, 0, 0, 0, 5},
                                         TurnCase{Orientation::right, 3, 0, 3, 5},
                                         TurnCase{Orientation::rightMirrored, 3, 5, 3, 0}));

struct LayoutCase {
    AVPixelFormat format;
    int width, height, outWidth, outHeight;
    Orientation orientation;
    int passedDepth; // 0: converted
    int shiftX, shiftY;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << av_get_pix_fmt_name(c.format) << ' ' << c.width << 'x' << c.height << " to "
        << c.outWidth << 'x' << c.outHeight;
}

class Layouts : public testing::TestWithParam<LayoutCase> {};

// Passed through means the decoder's own planes; converted means 16-bit 4:4:4
// with the same code values (a flat picture stays flat, limited range kept).
TEST_P(Layouts, PassThroughOnlyWhenNothingNeedsDoing) {
    const LayoutCase& c = GetParam();
    auto frame = flatFrame(c.format, c.width, c.height, 100, 90, 160);
    PictureFitter fitter(c.outWidth, c.outHeight, c.orientation);
    const PictureView view = fitter.fit(*frame);
    EXPECT_EQ(view.width, c.outWidth);
    EXPECT_EQ(view.height, c.outHeight);
    EXPECT_EQ(view.range, ColourRange::limited);
    if (c.passedDepth) {
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(view.planes[p].data, frame->data[p]);
            EXPECT_EQ(view.planes[p].stride, frame->linesize[p]);
        }
        EXPECT_EQ(view.bitDepth, c.passedDepth);
        EXPECT_EQ(view.chromaShiftX, c.shiftX);
        EXPECT_EQ(view.chromaShiftY, c.shiftY);
        return;
    }
    EXPECT_EQ(view.bitDepth, 16);
    EXPECT_EQ(view.chromaShiftX + view.chromaShiftY, 0);
    const int scale = av_pix_fmt_desc_get(c.format)->comp[0].depth > 8 ? 64 : 256;
    EXPECT_EQ(sampleAt(view, 0, c.outWidth - 1, c.outHeight - 1), 100 * scale);
    EXPECT_EQ(sampleAt(view, 1, 0, c.outHeight - 1), 90 * scale);
    EXPECT_EQ(sampleAt(view, 2, c.outWidth / 2, 0), 160 * scale);
}

constexpr auto up = Orientation::up;
INSTANTIATE_TEST_SUITE_P(
    Formats, Layouts,
    testing::Values(LayoutCase{AV_PIX_FMT_YUV420P, 64, 48, 64, 48, up, 8, 1, 1},
                    LayoutCase{AV_PIX_FMT_YUV422P, 64, 48, 64, 48, up, 8, 1, 0},
                    LayoutCase{AV_PIX_FMT_YUV444P, 64, 48, 64, 48, up, 8, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUV420P10LE, 64, 48, 64, 48, up, 10, 1, 1},
                    LayoutCase{AV_PIX_FMT_YUV444P12LE, 64, 48, 64, 48, up, 12, 0, 0},
                    // One odd line too many is cropped, not scaled.
                    LayoutCase{AV_PIX_FMT_YUV420P, 65, 49, 64, 48, up, 8, 1, 1},
                    LayoutCase{AV_PIX_FMT_YUV420P, 66, 48, 64, 48, up, 0, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUV420P, 32, 24, 64, 48, up, 0, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUV420P, 64, 48, 48, 64, Orientation::right, 0, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUV420P10LE, 65, 49, 48, 64, Orientation::left, 0, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUV410P, 64, 48, 64, 48, up, 0, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUV420P10BE, 64, 48, 64, 48, up, 0, 0, 0},
                    LayoutCase{AV_PIX_FMT_YUVA420P, 64, 48, 64, 48, up, 0, 0, 0}));

// Untagged pictures are BT.601 up to 576 lines and BT.709 above; range comes from
// the tag or from the full-range formats. Both paths report the same.
TEST(Fitter, MatrixAndRangeFromTheFrame) {
    struct {
        AVColorSpace colourSpace;
        AVColorRange range;
        AVPixelFormat format;
        int height;
        YCbCrMatrix matrix;
        ColourRange expected;
    } const cases[] = {
        {AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, AV_PIX_FMT_YUV420P, 480, YCbCrMatrix::bt709,
         ColourRange::limited},
        {AVCOL_SPC_BT470BG, AVCOL_RANGE_JPEG, AV_PIX_FMT_YUV420P, 1080, YCbCrMatrix::bt601,
         ColourRange::full},
        {AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG, AV_PIX_FMT_YUV420P10LE, 480, YCbCrMatrix::bt2020,
         ColourRange::limited},
        {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUV420P, 576,
         YCbCrMatrix::bt601, ColourRange::limited},
        {AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, AV_PIX_FMT_YUVJ420P, 578,
         YCbCrMatrix::bt709, ColourRange::full},
    };
    for (const auto& c : cases) {
        auto frame = flatFrame(c.format, 16, c.height, 100, 128, 128, c.colourSpace, c.range);
        for (Orientation o : {Orientation::up, Orientation::right}) {
            const bool swap = swapsSides(o);
            const PictureView view =
                PictureFitter(swap ? c.height : 16, swap ? 16 : c.height, o).fit(*frame);
            EXPECT_EQ(view.matrix, c.matrix) << c.colourSpace << ' ' << c.height;
            EXPECT_EQ(view.range, c.expected) << c.range << ' ' << c.format;
        }
    }
}

// RGB sources come out as BT.709 full-range Y′CbCr.
TEST(Fitter, RgbBecomesBt709FullRange) {
    auto red = makeFrame(AV_PIX_FMT_RGB24, 16, 8, [](int p, int, int) { return p ? 0 : 255; });
    PictureFitter fitter(16, 8, Orientation::up);
    const PictureView view = fitter.fit(*red);
    EXPECT_EQ(view.matrix, YCbCrMatrix::bt709);
    EXPECT_EQ(view.range, ColourRange::full);
    EXPECT_NEAR(sampleAt(view, 0, 3, 3) / 65535.0, 0.2126, 0.01);
    EXPECT_NEAR(sampleAt(view, 1, 3, 3) / 65535.0, 0.5 - 0.1146, 0.01);
    EXPECT_NEAR(sampleAt(view, 2, 3, 3) / 65535.0, 1.0, 0.01);
}

// The scratch pictures are reused; each fit must still show its own frame, also
// when the source format or tags change between frames.
TEST(Fitter, ReusedScratchShowsTheLatestFrame) {
    PictureFitter fitter(48, 64, Orientation::left);
    const PictureView a = fitter.fit(*flatFrame(AV_PIX_FMT_YUV420P, 64, 48, 50, 128, 128));
    EXPECT_EQ(sampleAt(a, 0, 10, 10), 50 << 8);
    const PictureView b = fitter.fit(*flatFrame(AV_PIX_FMT_YUV420P, 64, 48, 150, 128, 128));
    EXPECT_EQ(b.planes[0].data, a.planes[0].data);
    EXPECT_EQ(sampleAt(b, 0, 10, 10), 150 << 8);
    const PictureView c = fitter.fit(*flatFrame(AV_PIX_FMT_YUV420P10LE, 64, 48, 517, 512, 512,
                                                AVCOL_SPC_BT709, AVCOL_RANGE_JPEG));
    EXPECT_EQ(sampleAt(c, 0, 10, 10), 517 << 6);
    EXPECT_EQ(c.range, ColourRange::full);
    EXPECT_EQ(sampleAt(fitter.fit(*flatFrame(AV_PIX_FMT_YUV420P, 64, 48, 90, 128, 128)), 0, 10, 10),
              90 << 8);
}

// Left half red, right half blue, turned by the display matrix: red must be where
// an independent player puts it. Red has the higher Cr, blue the higher Cb.
TEST(Fitter, TurnedClipMatchesAnIndependentPlayer) {
    test::ScratchDir dir;
    auto halves = test::makeVideo(dir, "halves.mp4",
                                  "color=red:s=32x24[l];color=blue:s=32x24[r];[l][r]hstack", 1,
                                  "-c:v libx264 -preset ultrafast");
    for (const std::string rotate : {"90", "180", "270"}) {
        auto path = dir / ("turned" + rotate + ".mp4");
        test::makeClip("-i " + test::shellQuote(halves.string()) +
                           " -c copy -metadata:s:v:0 rotate=" + rotate,
                       path);
        auto played = test::run("ffmpeg -nostdin -loglevel error -i " +
                                test::shellQuote(path.string()) + " -f rawvideo -pix_fmt rgb24 -");
        const VideoTrack track = Asset(path).videoTracks().at(0);
        const Size shown = track.preferredTransform.applyToSize(track.naturalSize);
        const int w = static_cast<int>(std::abs(shown.width));
        const int h = static_cast<int>(std::abs(shown.height));
        ASSERT_EQ(played.out.size(), static_cast<size_t>(w * h * 3)) << played.err;

        auto clip = test::decodeAll(path);
        ASSERT_EQ(clip.samples.size(), 1u);
        PictureFitter fitter(w, h, orientationOf(track.preferredTransform));
        const PictureView view = fitter.fit(*clip.samples[0].imageBuffer());
        for (int y : {h / 4, 3 * h / 4})
            for (int x : {w / 4, 3 * w / 4})
                EXPECT_EQ(sampleAt(view, 2, x, y) > sampleAt(view, 1, x, y),
                          static_cast<unsigned char>(played.out[(y * w + x) * 3]) > 128)
                    << "rotate=" << rotate << " at " << x << "," << y;
    }
}

} // namespace
} // namespace vantrel::media
